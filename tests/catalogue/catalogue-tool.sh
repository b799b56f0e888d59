#!/bin/sh
# tools/catalogue on the sample publisher's tree with a new issue and one
# file of each kind a subscriber's program would refuse or list wrongly.
set -eu
top=$1 dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
/usr/bin/python3 "$top/tools/publisher" --root "$dir" --layout-only
pub=$dir/pub AB="$dir/pub/Alpine Boating"
printf 'Lost_ZZ_1.f#;Gone_AB_5.f#;' >> "$pub/em_lst.srv"
sed -i '1a XY=Trailing Dot.' "$pub/VORK.ini"
before=$(cat "$pub/em_lst.srv")
for f in "New Issue_AB_10.pdf" "New Issue_AB_9.pdf" "Semi;colon_AB_3.pdf" "AUX.Extra_AB_4.pdf" "Colon:_AB_6.pdf" \
  "Twice_AB_8.pdf" "TWICE_AB_8.pdf" "Only_AB_11.torrent" "Stray_CQ_12.pdf"; do
  printf '%%PDF-1.4\n' > "$AB/$f"
done
out=$(/usr/bin/python3 "$top/tools/catalogue" "$pub") && { echo "problems were not reported"; exit 1; }
echo "$out"
for want in "refused: record 'Lost_ZZ_1.f#': magazine code ZZ is not in VORK.ini" \
  "refused: record 'Gone_AB_5.f#' has no PDF" "Semi;colon_AB_3.pdf has the character(s) ';'" \
  "AUX.Extra_AB_4.pdf has a device name" "Colon:_AB_6.pdf has the character(s) ':'" \
  "the name 'Trailing Dot.' has a trailing dot or blank" \
  "TWICE_AB_8.f#, Twice_AB_8.f# differ only by case" "Only_AB_11.torrent has no PDF" \
  "Stray_CQ_12.pdf carries code CQ" "added: New Issue_AB_9.f#"; do
  echo "$out" | grep -qF "$want" || { echo "missing: $want"; exit 1; }
done
# Appended after every byte that was there, in issue order; nothing else.
[ "$(cat "$pub/em_lst.srv")" = "${before}New Issue_AB_9.f#;New Issue_AB_10.f#;" ] || { echo "wrong catalogue"; exit 1; }
# Nothing new: the file, and so its time, stays as it is.
stamp=$(stat -c %Y.%i "$pub/em_lst.srv")
/usr/bin/python3 "$top/tools/catalogue" "$pub" >/dev/null || true
[ "$(stat -c %Y.%i "$pub/em_lst.srv")" = "$stamp" ] || { echo "rewritten without news"; exit 1; }
ls -a "$pub" | grep -q '^\.em_lst' && { echo "temporary file left"; exit 1; }
# A 0640 root:ftp catalogue stays so when records are added (only root can chown).
if [ "$(id -u)" = 0 ] && getent group ftp >/dev/null; then
  chown root:ftp "$pub/em_lst.srv"; chmod 0640 "$pub/em_lst.srv"; printf '%%PDF-1.4\n' > "$AB/Later_AB_12.pdf"
  /usr/bin/python3 "$top/tools/catalogue" "$pub" >/dev/null || true
  grep -qF "Later_AB_12.f#;" "$pub/em_lst.srv" && [ "$(stat -c %U:%G:%a "$pub/em_lst.srv")" = root:ftp:640 ] ||
    { echo "owner, group or mode lost"; exit 1; }
else echo "skipped: keeping owner and group needs root and a group ftp"; fi
echo ok
