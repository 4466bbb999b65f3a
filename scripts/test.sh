#!/usr/bin/env bash
# Installs the dependencies, builds everything and runs every test; then
# builds the engine again under AddressSanitizer + UBSan and runs its tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup-deps.sh

jobs=$(nproc)
# Many tests run in real time (cameras at 30 fps, recordings, streams): keep
# half the cores free so they are not starved.
testJobs=$(( jobs > 2 ? jobs / 2 : 1 ))
export CTEST_OUTPUT_ON_FAILURE=1

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVRIX_ENGINE_ONLY=ON -DTAVRIX_SANITIZE=ON
cmake --build build-asan -j "$jobs"

# ctest lists a test that skipped itself (GTEST_SKIP: a missing display,
# privilege or tool) as "(Skipped)"; say how many, and which.
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
reportSkipped() {
  local count
  count=$(grep -c '(Skipped)$' "$1" || true)
  echo "== $2: $count test(s) skipped =="
  grep '(Skipped)$' "$1" || true
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
echo "== engine tests under AddressSanitizer + UndefinedBehaviorSanitizer =="
asanStatus=0
ctest --test-dir build-asan -j "$testJobs" --timeout 600 2>&1 | tee "$logs/asan.log" || asanStatus=$?
reportSkipped "$logs/asan.log" "engine tests under the sanitizers"

# Windows and GL tests need a display: use Xvfb when none is set.
run() {
  if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
    xvfb-run -a -s "-screen 0 1920x1080x24" "$@"
  else
    "$@"
  fi
}
echo "== all tests =="
allStatus=0
run ctest --test-dir build -j "$testJobs" --timeout 600 2>&1 | tee "$logs/all.log" || allStatus=$?
reportSkipped "$logs/all.log" "all tests"
if [ "$allStatus" -ne 0 ]; then
  exit "$allStatus"
fi
if [ "$asanStatus" -ne 0 ]; then
  echo "engine tests under the sanitizers failed (see above)" >&2
  exit "$asanStatus"
fi
