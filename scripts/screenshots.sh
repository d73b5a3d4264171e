#!/bin/sh
# Starts TdxBack on a virtual X display in a scratch data directory and saves
# PNG screenshots into docs/screenshots/: the main frame, the backup window
# and the busy window while QmZip packs. The keys a user would press are
# sent with xdotool; QmZip's progress lines are handed on slowly, so that
# the busy window stays up long enough to be seen part way.
#
# Needs Xvfb, a small window manager for the title bars (openbox) and
# ImageMagick's import, xdotool; installs them when missing.
set -e
cd "$(dirname "$0")/.."
ROOT="$(pwd)"
OUT="$ROOT/docs/screenshots"
PACKAGES="xvfb openbox imagemagick x11-utils libqt6svg6 fonts-dejavu-core xdotool"
. "$ROOT/scripts/xvfb-session.sh"
install_missing_packages

BUILD="${QM_BUILD_DIR:-build/normal}"
cmake -S . -B "$BUILD" -DQM_SANITIZE=OFF -DQM_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target TdxBack QmZip

start_display "${QM_SCREENSHOT_DISPLAY:-93}"

mkdir -p "$RUN_DIR/bin" "$RUN_DIR/data" "$RUN_DIR/USB DISK"
cp "$ROOT/$BUILD/bin/TdxBack" "$RUN_DIR/bin/"
printf '#!/bin/sh\n"%s" "$@" | while read -r line; do echo "$line"; sleep 0.08; done\n' \
  "$ROOT/$BUILD/bin/QmZip" > "$RUN_DIR/bin/QmZip"
chmod +x "$RUN_DIR/bin/QmZip"
printf '[Specs]\nPath=.\n[USER]\nProg=Tdx\n' > "$RUN_DIR/data/Qmoor.Ini"
head -c 40000000 /dev/urandom > "$RUN_DIR/data/TDV30.dat"
cd "$RUN_DIR/data"
"$RUN_DIR/bin/TdxBack" &
APP_PID=$!

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
