#!/bin/sh
# Starts TdxConv on a virtual X display in a scratch data directory and saves
# a PNG screenshot of its report into docs/screenshots/tdxconv-report.png.
# The directory holds only a Qmoor.Ini with an older data version, so the
# report shows every file created and the sign conversion run.
#
# Needs Xvfb, a small window manager for the title bars (openbox) and
# ImageMagick's import; installs them when missing.
set -e
cd "$(dirname "$0")/.."
ROOT="$(pwd)"
OUT="$ROOT/docs/screenshots"
PACKAGES="xvfb openbox imagemagick x11-utils libqt6svg6 fonts-dejavu-core"
missing=""
for package in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
    || missing="$missing $package"
done
if [ -n "$missing" ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends $missing
fi

BUILD="${QM_BUILD_DIR:-build/normal}"
[ -f "$BUILD/CMakeCache.txt" ] || cmake -S . -B "$BUILD" -DQM_SANITIZE=OFF -DQM_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target TdxConv

DISPLAY_NUMBER=":${QM_SCREENSHOT_DISPLAY:-94}"
RUN_DIR="$(mktemp -d)"
Xvfb "$DISPLAY_NUMBER" -screen 0 1100x640x24 -nolisten tcp &
XVFB_PID=$!
APP_PID=""
WM_PID=""
cleanup() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null || true
  [ -n "$WM_PID" ] && kill "$WM_PID" 2>/dev/null || true
  kill "$XVFB_PID" 2>/dev/null || true
  rm -rf "$RUN_DIR"
}
trap cleanup EXIT
export DISPLAY="$DISPLAY_NUMBER"
unset QT_QPA_PLATFORM QM_UI_SCRIPT
for attempt in 1 2 3 4 5 6 7 8 9 10; do
  xwininfo -root >/dev/null 2>&1 && break
  sleep 0.5
done
openbox >/dev/null 2>&1 &
WM_PID=$!
sleep 1

mkdir -p "$RUN_DIR/data"
printf '[Specs]\nPath=.\n[USER]\nDatadrive=.\n[SPECS]\nVersion=2.0\n' > "$RUN_DIR/data/Qmoor.Ini"
cd "$RUN_DIR/data"
"$ROOT/$BUILD/bin/TdxConv" &
APP_PID=$!

# Waits for a window with this caption; prints its id.
find_window() {
  for attempt in $(seq 1 40); do
    id="$(xwininfo -root -tree | grep "\"$1\"" | head -n 1 | awk '{print $1}')"
    [ -n "$id" ] && echo "$id" && return 0
    sleep 0.25
  done
  echo "screenshots: no window \"$1\" appeared" >&2
  exit 1
}

mkdir -p "$OUT"
id="$(find_window "Brevant File Integrity Checker")"
sleep 1
import -window "$id" -frame "$OUT/tdxconv-report.png"
echo "saved docs/screenshots/tdxconv-report.png"
