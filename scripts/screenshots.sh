#!/bin/sh
# Starts TdxBack on a virtual X display in a scratch data directory and saves
# PNG screenshots into docs/screenshots/: the main frame, the backup window
# and the busy window while QmZip packs. The keys a user would press are
# sent with xdotool; a QmZip that waits a moment before packing keeps the
# busy window up long enough to be seen.
#
# Needs Xvfb, a small window manager for the title bars (openbox) and
# ImageMagick's import, xdotool; installs them when missing.
set -e
cd "$(dirname "$0")/.."
ROOT="$(pwd)"
OUT="$ROOT/docs/screenshots"
PACKAGES="xvfb openbox imagemagick x11-utils libqt6svg6 fonts-dejavu-core xdotool"
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
cmake --build "$BUILD" -j "$(nproc)" --target TdxBack QmZip

DISPLAY_NUMBER=":${QM_SCREENSHOT_DISPLAY:-93}"
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

mkdir -p "$RUN_DIR/bin" "$RUN_DIR/data" "$RUN_DIR/USB DISK"
cp "$ROOT/$BUILD/bin/TdxBack" "$RUN_DIR/bin/"
printf '#!/bin/sh\nsleep 3\nexec "%s" "$@"\n' "$ROOT/$BUILD/bin/QmZip" > "$RUN_DIR/bin/QmZip"
chmod +x "$RUN_DIR/bin/QmZip"
printf '[Specs]\nPath=.\n[USER]\nProg=Tdx\n' > "$RUN_DIR/data/Qmoor.Ini"
head -c 40000000 /dev/urandom > "$RUN_DIR/data/TDV30.dat"
cd "$RUN_DIR/data"
"$RUN_DIR/bin/TdxBack" &
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

# Saves the window with this caption, with its frame.
shoot() {
  id="$(find_window "$1")"
  sleep 1
  import -window "$id" -frame "$OUT/$2"
  echo "saved docs/screenshots/$2"
}

mkdir -p "$OUT"
shoot "Quillmoor Backup / Restore" main-frame.png
xdotool windowactivate --sync "$(find_window "Quillmoor Backup / Restore")" key alt+f
sleep 0.5
xdotool key b
backup="$(find_window "Make a Backup")"
xdotool windowactivate --sync "$backup"
sleep 0.5
# Drive is the first button; its directory dialog takes a typed path.
xdotool key Tab key space
sleep 1.5
xdotool type --delay 20 "$RUN_DIR/USB DISK"
xdotool key Return
sleep 1
shoot "Make a Backup" make-a-backup.png
xdotool windowactivate --sync "$backup" key alt+b
sleep 1
xdotool key Return
sleep 4.5
shoot "Backup / Restore" busy-window.png
