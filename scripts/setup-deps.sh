#!/usr/bin/env bash
# Installs every Debian package Tavrix needs to build, run and test.
# Safe to run again: apt-get skips what is already installed.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config git
  # Qt 6
  qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-declarative-dev-tools
  qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools qt6-translations-l10n
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-templates
  qml6-module-qtquick-layouts qml6-module-qtquick-window qml6-module-qtqml-workerscript
  qml6-module-qtqml qml6-module-qttest qml6-module-qtquick-shapes
  libqt6opengl6-dev qt6-qpa-plugins
  # media
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev ffmpeg
  libturbojpeg0-dev libasound2-dev libfreetype-dev fonts-dejavu-core
  # the interface's symbols: emoji on buttons, the fullwidth plus of the alias row
  fonts-noto-color-emoji fonts-droid-fallback
  # OpenGL / EGL (Mesa software rasteriser in tests)
  libgl-dev libegl-dev libgles-dev libgl1-mesa-dri libegl-mesa0 mesa-utils
  # tests
  libgtest-dev libgmock-dev xvfb xauth xdotool iproute2 util-linux chromium imagemagick
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
