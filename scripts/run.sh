#!/bin/sh
# Builds TdxBack and starts it on a sample data directory made here: a few
# record files written with qmrec and a two-level Qmoor.Ini. With a display
# its windows open on the desktop; without one a scripted backup runs under
# the script presenter, its transcript is printed and the archives listed.
set -e
cd "$(dirname "$0")/.."
ROOT="$(pwd)"
./scripts/deps.sh
cmake -S . -B build/normal -DQM_SANITIZE=OFF -DQM_BUILD_BENCH=OFF
cmake --build build/normal -j "$(nproc)" --target TdxBack QmZip qmrec
BIN="$ROOT/build/normal/bin"
QMREC="$(find "$ROOT/build/normal" -name qmrec -type f -perm -u+x | head -n 1)"

SAMPLE="$ROOT/build/normal/tdxback-sample"
DATA="$SAMPLE/data"
TARGET="$SAMPLE/USB DISK"
rm -rf "$SAMPLE"
mkdir -p "$DATA" "$TARGET" "$SAMPLE/specs"
printf '[Specs]\nPath=%s\n' "$SAMPLE/specs" > "$DATA/Qmoor.Ini"
printf '[USER]\nProg=Tdx\nDatadrive=%s\n' "$DATA" > "$SAMPLE/specs/Qmoor.Ini"
cat > "$SAMPLE/farms.json" <<'JSON'
{"label": "TdFarms", "prefix": "FRM",
 "fields": [{"name": "FRM:CODE", "encoding": "text", "width": 4},
            {"name": "FRM:NAME", "encoding": "text", "width": 20}],
 "keys": [{"name": "FRM:CodeKey", "components": ["FRM:CODE"], "unique": true, "primary": true}]}
JSON
cat > "$SAMPLE/jobs.json" <<'JSON'
{"label": "TdJobs", "prefix": "JOB",
 "fields": [{"name": "JOB:NUMBER", "encoding": "u32"},
            {"name": "JOB:FARM", "encoding": "text", "width": 4},
            {"name": "JOB:COST", "encoding": "decimal", "digits": 9, "decimals": 2}],
 "keys": [{"name": "JOB:NumberKey", "components": ["JOB:NUMBER"], "unique": true, "primary": true}]}
JSON
"$QMREC" create "$DATA/FARMS" --declaration "$SAMPLE/farms.json"
"$QMREC" create "$DATA/JOBS" --declaration "$SAMPLE/jobs.json"
printf '%s\n' '{"FRM:CODE": "HILL", "FRM:NAME": "Hillside"}' '{"FRM:CODE": "VALE", "FRM:NAME": "Valley Farm"}' |
  "$QMREC" load "$DATA/FARMS"
printf '%s\n' '{"JOB:NUMBER": 1, "JOB:FARM": "HILL", "JOB:COST": 125.50}' \
  '{"JOB:NUMBER": 2, "JOB:FARM": "VALE", "JOB:COST": 980.00}' | "$QMREC" load "$DATA/JOBS"

cd "$DATA"
if [ -n "$DISPLAY" ] || [ -n "$WAYLAND_DISPLAY" ]; then
  exec "$BIN/TdxBack"
fi
sed "s|\$TARGET|$TARGET|" "$ROOT/scripts/tdxback-sample.script" > "$SAMPLE/sample.script"
QM_UI_SCRIPT="$SAMPLE/sample.script" "$BIN/TdxBack" 2>&1
echo
echo "Archives in $DATA:"
ls -l "$DATA"/*.Zip
echo "Archive on $TARGET:"
ls -l "$TARGET"
