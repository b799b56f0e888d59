#!/bin/sh
# The built guide must be a readable PDF that carries the guide's sections.
set -e
pdf=$1
text=$(pdftotext -layout "$pdf" -)
fail=0
for want in "Quillora Help" "The tray icon and its menu" "Checking for new issues" "Delivering issues" \
  "Pause, Resume and Cancel" "The library window" "Updates" "Where your files are" "My Magazines" \
  "My Torrents" "No Internet connection established." "When something goes wrong" "Using the keyboard" "quillora.log" "Settings" "Library folder"; do
  printf '%s\n' "$text" | grep -qF "$want" || { echo "missing: $want"; fail=1; }
done
pages=$(pdfinfo "$pdf" | sed -n 's/^Pages: *//p')
[ "$pages" -ge 3 ] || { echo "only $pages pages"; fail=1; }
exit $fail
