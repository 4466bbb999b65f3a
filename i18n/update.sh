#!/usr/bin/env bash
# Refreshes the six catalogues from the sources (new texts appear unfinished,
# texts gone from the sources are dropped), then builds, which compiles them
# into the program's resources. Usage: i18n/update.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target update_translations
cmake --build "$build" -j 4
