#!/usr/bin/env bash
# Installs the dependencies, builds everything and runs every test; then
# builds the engine again under AddressSanitizer + UBSan and runs its tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup-deps.sh

jobs=$(nproc)
export CTEST_OUTPUT_ON_FAILURE=1

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVRIX_ENGINE_ONLY=ON -DTAVRIX_SANITIZE=ON
cmake --build build-asan -j "$jobs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
echo "== engine tests under AddressSanitizer + UndefinedBehaviorSanitizer =="
ctest --test-dir build-asan -j "$jobs" --timeout 600

# Windows and GL tests need a display: use Xvfb when none is set.
run() {
  if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
    xvfb-run -a -s "-screen 0 1920x1080x24" "$@"
  else
    "$@"
  fi
}
echo "== all tests =="
run ctest --test-dir build -j "$jobs" --timeout 600
