#!/bin/sh
# Builds the programs and runs the main one. Until the utilities exist that
# is the framework demonstration, driven by its script; the transcript of
# what a user would have seen is printed.
set -e
cd "$(dirname "$0")/.."
ROOT="$(pwd)"
./scripts/deps.sh
cmake -S . -B build/normal -DQM_SANITIZE=OFF -DQM_BUILD_BENCH=OFF
cmake --build build/normal -j "$(nproc)" --target QmDemo
RUN_DIR="build/normal/demo-run"
mkdir -p "$RUN_DIR"
cd "$RUN_DIR"
QM_UI_SCRIPT="$ROOT/src/demo/demo.script" "$ROOT/build/normal/bin/QmDemo" 2>&1
