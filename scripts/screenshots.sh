#!/usr/bin/env bash
# Takes the README's pictures with the program's own screenshot mode under
# Xvfb, on the test-pattern camera, with fresh settings:
#   docs/start.png   the start screen
#   docs/session.png a four-panel session
#   docs/share.png   the Live Share sheet
# Usage: scripts/screenshots.sh [build-dir] [output-dir] [language]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
out=${2:-$root/docs}
language=${3:-en}
[ -x "$build/tavrix" ] || { echo "no $build/tavrix: build first (scripts/test.sh)" >&2; exit 1; }
mkdir -p "$out"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Answered once: no invite-code sheet over the start screen.
mkdir -p "$work/config/Orvane"
printf '[referral]\ninvitedByAsked=true\n' > "$work/config/Orvane/Tavrix.conf"

shot() { # name, then the program's options
  local name=$1; shift
  local raw="$work/$name.png"
  env HOME="$work" XDG_CONFIG_HOME="$work/config" TAVRIX_TEST_SOURCE=1 TAVRIX_LANG="$language" \
    xvfb-run -a -s "-screen 0 1920x1080x24" \
    "$build/tavrix" --screenshot "$raw" --after 3000 "$@"
  # Half size, 64 colours: a few dozen KiB each.
  convert "$raw" -resize 50% -colors 64 "PNG8:$out/$name.png"
  echo "wrote $out/$name.png"
}

shot start --screen start
shot session --screen session --layout 4-grid
shot share --screen share --layout 2-side
