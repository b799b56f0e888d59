# Shared set-up for scripts/test and scripts/demo: packages, build, Wine prefix
# and a virtual display. Sourced, not run.
set -euo pipefail

TOP=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${TOLV_BUILD_DIR:-$TOP/build}
# The Wine prefix; scripts/demo keeps one of its own.
PREFIX=${TOLV_PREFIX:-$BUILD/wineprefix}
# Wine confines the pointer (ClipCursor) only through XInput2, from the libXi
# of its own architecture, which it merely recommends: without it a clip is
# dropped at once.
PACKAGES="mingw-w64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  gcc-mingw-w64-x86-64-posix wine wine64 wine32:i386 libxi6 libxi6:i386 xvfb xauth x11-utils imagemagick
  python3-pyftpdlib vsftpd googletest cmake make groff ghostscript poppler-utils curl file
  nsis osslsigncode"

say() { printf '== %s\n' "$*" >&2; }

as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs whatever of PACKAGES is missing; a machine that has them all is left alone.
install_packages() {
  local missing=()
  for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  say "installing: ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Wine runs 32-bit programs only where the kernel runs 32-bit Linux programs;
# some hosts refuse them. There the tests run a 64-bit build of the same
# sources under wine64, while the shipped programs stay 32-bit.
choose_test_arch() {
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    TEST_ARCH=i686; WINE=/usr/lib/wine/wine
  else
    TEST_ARCH=x86_64; WINE=/usr/lib/wine/wine64
  fi
  export WINELOADER=$WINE
  PRODUCT_DIR=$BUILD/i686
  RUN_DIR=$BUILD/$TEST_ARCH
}

# The options every build of ours is configured with. The builds here are
# for testing, so they take the TEST update key; a release build gives its own.
configure_build() {  # DIR ARCH WINE
  cmake -S "$TOP" -B "$1" -DCMAKE_TOOLCHAIN_FILE="$TOP/cmake/mingw.cmake" -DTOLV_ARCH="$2" \
    -DTOLV_WINE="$3" -DTOLV_PRODUCT_DIR="$PRODUCT_DIR" -DCMAKE_BUILD_TYPE=Release -DTOLV_TESTS=ON \
    -DTOLV_ALLOW_TEST_KEY=ON >"$1.configure.log" ||
    { cat "$1.configure.log" >&2; return 1; }
  grep -m1 'fingerprint' "$1.configure.log" | sed 's/^-- /   /' >&2 || true
}

# Arguments name the targets of the test build to make (default: all of it,
# and where the tests run as x86_64, all of the i686 build too, with its
# tests, so that every host compiles what a 32-bit host would run).
configure_and_build() {
  choose_test_arch
  export WINEPREFIX=$PREFIX WINEDEBUG=-all
  local jobs; jobs=$(nproc)
  mkdir -p "$BUILD"
  if [ "$TEST_ARCH" != i686 ] && [ $# -eq 0 ]; then
    say "this host runs no 32-bit programs: the i686 build is compiled, the x86_64 suite runs"
    configure_build "$PRODUCT_DIR" i686 /usr/lib/wine/wine
    say "building (i686)"
    cmake --build "$PRODUCT_DIR" -j "$jobs"
  fi
  configure_build "$RUN_DIR" "$TEST_ARCH" "$WINE"
  say "building ($TEST_ARCH)"
  if [ $# -gt 0 ]; then
    cmake --build "$RUN_DIR" -j "$jobs" --target "$@"
  else
    cmake --build "$RUN_DIR" -j "$jobs"
  fi
}

XVFB_PID=
WINESERVER_STARTED=
# Starts a virtual display unless a working one is given; stops only its own.
start_display() {
  if [ "${1:-}" = keep ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    return 0
  fi
  # Xvfb picks a free display number itself and tells it through a pipe, so
  # several runs on one machine never race for the same display.
  local fifo; fifo=$(mktemp -u); mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  XVFB_PID=$!
  local n; read -r -t 20 n <"$fifo" || true
  rm -f "$fifo"
  [ -n "$n" ] || { say "Xvfb did not start"; return 1; }
  export DISPLAY=:$n
  xdpyinfo >/dev/null 2>&1 || { say "Xvfb did not start"; return 1; }
}

stop_display() {
  if [ -n "$WINESERVER_STARTED" ]; then
    WINEPREFIX=$PREFIX wineserver -k 2>/dev/null || true
    WINESERVER_STARTED=
  fi
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=
  fi
}

# tolv.exe registers itself to start at logon, and wineboot starts what is
# registered there: without this, the next run would find a stale copy
# running, and no first run. Forgets the first-run marks and both Run values
# (the machine's from earlier builds).
forget_tolv() {
  [ -f "$PREFIX/system.reg" ] || return 0
  local run='Software\Microsoft\Windows\CurrentVersion\Run'
  "$WINE" reg delete 'HKCU\SOFTWARE\Orvane\TOLV' /f >/dev/null 2>&1 || true
  "$WINE" reg delete 'HKLM\SOFTWARE\Orvane\TOLV' /f >/dev/null 2>&1 || true
  "$WINE" reg delete "HKLM\\$run" /v tolv /f >/dev/null 2>&1 || true
  "$WINE" reg delete "HKCU\\$run" /v tolv /f >/dev/null 2>&1 || true
}

# An isolated prefix inside the build tree, booted once with a display.
prepare_prefix() {
  export WINEPREFIX=$PREFIX WINEDEBUG=-all
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    say "creating the Wine prefix"
    "$WINE" wineboot -i >/dev/null 2>&1 || true
    # Without a window manager on the virtual display, Wine would wait two
    # seconds for one at every hide; unmanaged windows need no such wait.
    "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
    # Wine then draws the frames and captions itself, as screenshots should show them.
    "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1 || true
  fi
  # Keep one wineserver for the whole run: every test starts faster.
  wineserver -p 2>/dev/null || true
  WINESERVER_STARTED=1
  # Start the prefix's services now, with their output going nowhere: started
  # by a test, they would keep that test's output pipe open and CTest would
  # wait for it until the test's timeout.
  "$WINE" wineboot </dev/null >/dev/null 2>&1 || true
}
