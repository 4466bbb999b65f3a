#!/usr/bin/env bash
# Installs what is missing, builds the program into build/ and starts it.
# Arguments are passed on (bash scripts/run.sh --kiosk). Without a camera
# (/dev/video*) the built-in test pattern is offered instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup-deps.sh

# The same configuration as scripts/test.sh, so both share build/.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target tavrix

if ! compgen -G "/dev/video*" >/dev/null; then
  echo "run.sh: no camera found (/dev/video*); showing the test pattern" >&2
  export TAVRIX_TEST_SOURCE=1
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no DISPLAY or WAYLAND_DISPLAY set; start it from a desktop session" >&2
fi

exec build/tavrix "$@"
