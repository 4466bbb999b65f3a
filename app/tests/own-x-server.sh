#!/usr/bin/env bash
# Runs a test on an X server of its own (Xvfb), so no other test's window
# takes its keyboard focus, covers it or owns its clipboard. Xvfb picks a
# free display itself (-displayfd), so parallel runs never race for one.
set -euo pipefail
if [ "$#" -eq 0 ]; then
  echo "usage: own-x-server.sh COMMAND [ARGUMENT...]" >&2
  exit 2
fi
fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$fifo" 2>/dev/null &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null || true; rm -f "$fifo"' EXIT
if ! read -r -t 60 number <"$fifo"; then
  echo "own-x-server.sh: Xvfb did not start" >&2
  exit 1
fi
status=0
DISPLAY=":$number" "$@" || status=$?
exit "$status"
