#!/bin/sh
# Starts the demo windows on a virtual X display and saves PNG screenshots
# of them into docs/screenshots/: the main frame with its menu and toolbar,
# the backup window and the restore window with its list.
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
cmake -S . -B "$BUILD" -DQM_SANITIZE=OFF -DQM_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target QmDemo

DISPLAY_NUMBER=":${QM_SCREENSHOT_DISPLAY:-93}"
RUN_DIR="$(mktemp -d)"
Xvfb "$DISPLAY_NUMBER" -screen 0 1100x640x24 -nolisten tcp &
XVFB_PID=$!
DEMO_PID=""
WM_PID=""
cleanup() {
  [ -n "$DEMO_PID" ] && kill "$DEMO_PID" 2>/dev/null || true
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

cd "$RUN_DIR"
QM_DEMO_OPEN_ALL=1 "$ROOT/$BUILD/bin/QmDemo" &
DEMO_PID=$!

# Waits for a window with this caption and saves it with its frame.
shoot() {
  caption="$1"
  file="$2"
  for attempt in $(seq 1 40); do
    id="$(xwininfo -root -tree | grep "\"$caption\"" | head -n 1 | awk '{print $1}')"
    [ -n "$id" ] && break
    sleep 0.25
  done
  if [ -z "$id" ]; then
    echo "screenshots: no window \"$caption\" appeared" >&2
    exit 1
  fi
  sleep 1
  import -window "$id" -frame "$OUT/$file"
  echo "saved docs/screenshots/$file"
}

mkdir -p "$OUT"
shoot "Quillmoor Demo" main-frame.png
shoot "Make a Backup" make-a-backup.png
shoot "Restore a Backup" restore-a-backup.png
import -window root "$OUT/desktop.png"
echo "saved docs/screenshots/desktop.png"
