#!/usr/bin/env bash
# Installs the dependencies, builds everything and runs every test; then
# builds everything again under AddressSanitizer + UBSan and runs every test.
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

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVRIX_ENGINE_ONLY=OFF -DTAVRIX_SANITIZE=ON
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

# Windows and GL tests need a display: use Xvfb when none is set.
run() {
  if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
    xvfb-run -a -s "-screen 0 1920x1080x24" "$@"
  else
    "$@"
  fi
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
echo "== engine tests under AddressSanitizer + UndefinedBehaviorSanitizer =="
asanStatus=0
ctest --test-dir build-asan -LE '^app$' -j "$testJobs" --timeout 600 2>&1 | tee "$logs/asan.log" || asanStatus=$?
reportSkipped "$logs/asan.log" "engine tests under the sanitizers"

# Mesa's software driver is unloaded when the program closes its X display,
# and the only references to some of its own allocations go with it: leaks
# with no stack left to suppress by. Loaded from the start it stays mapped
# (ASan then no longer comes first among the libraries, which is harmless).
mesaDriver=/usr/lib/$(gcc -print-multiarch)/dri/swrast_dri.so
[ -f "$mesaDriver" ] || { echo "no Mesa driver at $mesaDriver" >&2; exit 1; }
echo "== application tests under AddressSanitizer + UndefinedBehaviorSanitizer =="
appAsanStatus=0
run env LD_PRELOAD="$mesaDriver" ASAN_OPTIONS="$ASAN_OPTIONS:verify_asan_link_order=0" \
  LSAN_OPTIONS="suppressions=$root/app/lsan.supp:print_suppressions=0" \
  ctest --test-dir build-asan -L '^app$' -j "$testJobs" --timeout 600 2>&1 | tee "$logs/asan-app.log" || appAsanStatus=$?
reportSkipped "$logs/asan-app.log" "application tests under the sanitizers"

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
if [ "$appAsanStatus" -ne 0 ]; then
  echo "application tests under the sanitizers failed (see above)" >&2
  exit "$appAsanStatus"
fi
