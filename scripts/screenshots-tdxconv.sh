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
. "$ROOT/scripts/xvfb-session.sh"
install_missing_packages

BUILD="${QM_BUILD_DIR:-build/normal}"
[ -f "$BUILD/CMakeCache.txt" ] || cmake -S . -B "$BUILD" -DQM_SANITIZE=OFF -DQM_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target TdxConv

start_display "${QM_SCREENSHOT_DISPLAY:-94}"

mkdir -p "$RUN_DIR/data"
printf '[Specs]\nPath=.\n[USER]\nDatadrive=.\n[SPECS]\nVersion=2.0\n' > "$RUN_DIR/data/Qmoor.Ini"
cd "$RUN_DIR/data"
"$ROOT/$BUILD/bin/TdxConv" &
APP_PID=$!

shoot "Brevant File Integrity Checker" tdxconv-report.png
