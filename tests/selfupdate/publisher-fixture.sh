#!/bin/sh
# start DIR SOURCE-DIR PROGRAM [publisher options...] | stop DIR
# Runs the sample publisher in the background over DIR/root and leaves its
# port in DIR/port; stop ends it again.
set -e
action=$1 dir=$2
case $action in
start)
  src=$3 program=$4
  shift 4
  rm -rf "$dir"
  mkdir -p "$dir"
  /usr/bin/python3 "$src/tools/publisher" --root "$dir/root" --port-file "$dir/port" --program "$program" \
    "$@" </dev/null >"$dir/log" 2>&1 &
  echo $! >"$dir/pid"
  for _ in $(seq 150); do
    [ -s "$dir/port" ] && exit 0
    sleep 0.1
  done
  cat "$dir/log" >&2
  exit 1
  ;;
stop)
  kill "$(cat "$dir/pid")"
  ;;
esac
