#!/bin/sh
# Starts or stops a vsftpd serving the sample publisher's tree: anonymous,
# passive, loopback, with its own config file and pid file in DIR.
#   vsftpd-fixture.sh start DIR SOURCE_DIR [publisher layout options] | stop DIR
# VSFTPD_CONF, when set, holds further lines for the config (anon_max_rate=N).
set -eu
cmd=$1 dir=$2
case $cmd in
start)
  src=$3
  shift 3
  rm -rf "$dir"
  # vsftpd chroots anonymous users into anon_root and into
  # secure_chroot_dir, and refuses either when its owner's user could
  # write there: both stay root-owned and read-only to others.
  mkdir -p "$dir/root" "$dir/empty"
  chmod 755 "$dir" "$dir/root"
  chmod 555 "$dir/empty"
  /usr/bin/python3 "$src/tools/publisher" --root "$dir/root" --layout-only "$@"
  chmod -R a+rX "$dir/root"
  port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  cat > "$dir/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$port
background=NO
anonymous_enable=YES
local_enable=NO
write_enable=NO
no_anon_password=YES
anon_root=$dir/root
secure_chroot_dir=$dir/empty
pasv_enable=YES
pasv_address=127.0.0.1
connect_from_port_20=NO
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
xferlog_enable=YES
vsftpd_log_file=$dir/vsftpd.log
dual_log_enable=YES
log_ftp_protocol=YES
use_localtime=NO
${VSFTPD_CONF:-}
CONF
  setsid /usr/sbin/vsftpd "$dir/vsftpd.conf" </dev/null >"$dir/stdout.log" 2>&1 &
  echo $! > "$dir/pid"
  for _ in $(seq 100); do
    if /usr/bin/python3 -c "import socket,sys; socket.create_connection(('127.0.0.1',$port),0.2)" 2>/dev/null; then
      echo "$port" > "$dir/port"
      exit 0
    fi
    kill -0 "$(cat "$dir/pid")" 2>/dev/null || break
    sleep 0.1
  done
  echo "vsftpd did not start:" >&2; cat "$dir/stdout.log" >&2
  exit 1 ;;
stop)
  [ -f "$dir/pid" ] && kill "$(cat "$dir/pid")" 2>/dev/null || true
  rm -f "$dir/pid" "$dir/port" ;;
esac
