#!/usr/bin/env bash
# Sets up a single-board computer (Raspberry Pi OS Bookworm or Debian 12,
# 64-bit) as a Tavrix kiosk: installs the packages, builds and installs the
# program, lets the kiosk user reach cameras, GPU, input and sound, and starts
# Tavrix full screen on the first console at every boot.
#   sudo bash packaging/pi/install-kiosk.sh [user]     (default user: pi)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"

user=${1:-pi}
prefix=/usr/local

if [ "$(id -u)" -ne 0 ]; then
  echo "install-kiosk.sh: run as root (sudo)" >&2
  exit 1
fi
if ! id "$user" >/dev/null 2>&1; then
  echo "install-kiosk.sh: no user '$user'; name an existing user" >&2
  exit 1
fi

bash scripts/setup-deps.sh
cmake -S . -B build-kiosk -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVRIX_BUILD_TESTS=OFF
cmake --build build-kiosk --target tavrix
cmake --install build-kiosk --prefix "$prefix"

# Cameras and the GPU (video, render), keyboard (input), microphone (audio).
for group in video render input audio; do
  if getent group "$group" >/dev/null; then
    usermod -a -G "$group" "$user"
  fi
done

sed -e "s|@KIOSK_USER@|$user|" -e "s|@PREFIX@|$prefix|" packaging/pi/tavrix-kiosk.service \
  > /etc/systemd/system/tavrix-kiosk.service
systemctl daemon-reload
systemctl enable tavrix-kiosk.service
echo "install-kiosk.sh: Tavrix starts full screen on the next boot (systemctl start tavrix-kiosk to start now)."
