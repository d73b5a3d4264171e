#!/bin/sh
# Builds and runs every test twice: a normal build and an AddressSanitizer +
# UndefinedBehaviorSanitizer build.
set -e
cd "$(dirname "$0")/.."
./scripts/deps.sh
JOBS="$(nproc)"
for variant in normal sanitize; do
  SANITIZE=OFF
  [ "$variant" = sanitize ] && SANITIZE=ON
  cmake -S . -B "build/$variant" -DQM_SANITIZE=$SANITIZE -DQM_BUILD_BENCH=OFF
  cmake --build "build/$variant" -j "$JOBS"
  echo "== tests: $variant build"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  QT_QPA_PLATFORM=offscreen \
    ctest --test-dir "build/$variant" --output-on-failure -j "$JOBS"
done
