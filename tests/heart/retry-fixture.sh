#!/bin/sh
# The servers of the retry tests: a sample publisher with transient faults
# and a two-second idle time-out, a second one without REST, and a small
# disk (an 8 MB tmpfs, where this machine lets us mount one).
#   retry-fixture.sh start DIR SOURCE_DIR | stop DIR
set -eu
cmd=$1 dir=$2
stop() {
  for p in "$dir"/main/pid "$dir"/norest/pid; do
    [ -f "$p" ] && kill "$(cat "$p")" 2>/dev/null || true
    rm -f "$p"
  done
  if mountpoint -q "$dir/small" 2>/dev/null; then umount "$dir/small"; fi
}
case $cmd in
start)
  src=$3
  stop
  rm -rf "$dir/main" "$dir/norest" "$dir/small"
  mkdir -p "$dir/main" "$dir/norest" "$dir/small"
  ab="/pub/Alpine Boating" cq="/pub/Coastal Quilts" ht="/pub/Home Tinkerer"
  /usr/bin/python3 "$src/tools/publisher" --root "$dir/main/root" --port-file "$dir/main/port" \
    --pid-file "$dir/main/pid" --daemon "$dir/main/log" --idle-timeout 2 \
    --file "Alpine Boating/Dropped_AB_20.pdf:2M" --fault "drop=1048576:1@$ab/Dropped*" \
    --file "Coastal Quilts/Changed_CQ_21.pdf:2M" --fault "drop=1048576:1@$cq/Changed*" --change "$cq/Changed*" \
    --file "Coastal Quilts/Cancelled_CQ_25.pdf:2M" --fault "drop=1048576:1@$cq/Cancelled*" \
    --file "Home Tinkerer/Stalled_HT_22.pdf:2M" --fault "stall=1048576:1@$ht/Stalled*" \
    --file "Home Tinkerer/Gone_HT_23.pdf:100K" --fault "550@$ht/Gone*" \
    --file "Alpine Boating/Paused_AB_24.pdf:64M"
  /usr/bin/python3 "$src/tools/publisher" --root "$dir/norest/root" --port-file "$dir/norest/port" \
    --pid-file "$dir/norest/pid" --daemon "$dir/norest/log" --no-rest \
    --file "Alpine Boating/Dropped_AB_20.pdf:2M" --fault "drop=1048576:1@$ab/Dropped*"
  if mount -t tmpfs -o size=8m tmpfs "$dir/small" 2>/dev/null; then
    touch "$dir/small/mounted"
  fi ;;
stop)
  stop ;;
esac
