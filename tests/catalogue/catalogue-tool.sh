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

# With the key: the signed list names the catalogue, the settings and the new
# issue as they are, and its signature verifies with the public key.
key=$top/tools/test-release-key.pem
out=$(/usr/bin/python3 "$top/tools/catalogue" --key "$key" "$pub") || true
echo "$out" | grep -qF "signed em_lst.sig" || { echo "not signed"; exit 1; }
list=$pub/em_lst.sig
for f in em_lst.srv VORK.ini "Alpine Boating/New Issue_AB_10.pdf" "Alpine Boating/Winter Issue_AB_1.torrent"; do
  grep -qxF "$(sha256sum <"$pub/$f" | cut -c1-64) $(wc -c <"$pub/$f") $f" "$list" || { echo "not listed: $f"; exit 1; }
done
head -n -1 "$list" >"$dir/body"
tail -n 1 "$list" | /usr/bin/python3 -c '
import sys
rs = sys.stdin.read().strip().split("=")[1]
def der(x):
    b = int(x, 16).to_bytes(33, "big").lstrip(b"\0")
    b = b"\0" + b if b[0] & 0x80 else b
    return b"\x02" + bytes([len(b)]) + b
body = der(rs[:64]) + der(rs[64:])
sys.stdout.buffer.write(b"\x30" + bytes([len(body)]) + body)' >"$dir/sig.der"
openssl ec -in "$key" -pubout -out "$dir/pub.pem" 2>/dev/null
openssl dgst -sha256 -verify "$dir/pub.pem" -signature "$dir/sig.der" "$dir/body" >/dev/null || { echo "bad signature"; exit 1; }
# A tree that changed after signing is reported until it is signed again.
printf '%%PDF-1.4 changed\n' >"$AB/New Issue_AB_10.pdf"
out=$(/usr/bin/python3 "$top/tools/catalogue" "$pub") || true
echo "$out" | grep -qF "em_lst.sig no longer describes" || { echo "stale list not reported"; exit 1; }
# A 0640 root:ftp catalogue stays so when records are added (only root can chown).
if [ "$(id -u)" = 0 ] && getent group ftp >/dev/null; then
  chown root:ftp "$pub/em_lst.srv"; chmod 0640 "$pub/em_lst.srv"; printf '%%PDF-1.4\n' > "$AB/Later_AB_12.pdf"
  /usr/bin/python3 "$top/tools/catalogue" "$pub" >/dev/null || true
  grep -qF "Later_AB_12.f#;" "$pub/em_lst.srv" && [ "$(stat -c %U:%G:%a "$pub/em_lst.srv")" = root:ftp:640 ] ||
    { echo "owner, group or mode lost"; exit 1; }
else echo "skipped: keeping owner and group needs root and a group ftp"; fi
echo ok
