#!/bin/sh
# start DIR SOURCE-DIR PROGRAM|- [publisher options...] | stop DIR
# Runs the sample publisher in the background over DIR/root and leaves its
# port in DIR/port; stop ends it again. PROGRAM is served signed, and DIR/sigs
# holds statements for it as other versions.
set -e
action=$1 dir=$2
case $action in
start)
  src=$3 program=$4
  shift 4
  rm -rf "$dir"
  mkdir -p "$dir"
  if [ "$program" != - ]; then
    # Statements for the tests to serve: the program signed as other
    # versions, and as 2.0 with a key that is not ours.
    mkdir -p "$dir/sigs"
    export SIGN_RELEASE_ANY_VERSION=1
    for v in 2.0 1.00 0.9; do
      SIGN_RELEASE_QUIET=1 "$src/tools/sign-release" sign "$src/tools/test-release-key.pem" "$program" $v \
        "$dir/sigs/$v.sig"
    done
    openssl ecparam -name prime256v1 -genkey -noout -out "$dir/other-key.pem"
    SIGN_RELEASE_QUIET=1 "$src/tools/sign-release" sign "$dir/other-key.pem" "$program" 2.0 \
      "$dir/sigs/other-key-2.0.sig"
    set -- --program "$program" "$@"
  fi
  /usr/bin/python3 "$src/tools/publisher" --root "$dir/root" --port-file "$dir/port" "$@" \
    </dev/null >"$dir/log" 2>&1 &
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
