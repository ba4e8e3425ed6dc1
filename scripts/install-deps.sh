#!/usr/bin/env bash
# Installs every Debian package that building and testing the project needs. Idempotent: does
# nothing when all are present. Run as root (CI and the project's machines are).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang
  # libFuzzer's runtime for the fuzz targets (clang 14 is Debian 12's clang)
  libclang-rt-14-dev llvm-14
  libpng-dev libx11-dev libxext-dev libxrender-dev libx11-xcb-dev libxkbcommon-dev libxkbcommon-x11-dev xkb-data
  libxtst-dev xvfb xdotool
  # a window manager for the tests of what a desktop does to windows
  openbox
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  zlib1g-dev
  libavcodec-dev libavutil-dev libopenh264-dev libvpx-dev libyuv-dev libjpeg-dev
  ffmpeg
  # kwz-web: HTTP and WebSocket (Boost.Beast on Asio), and the browser its tests drive
  libboost-dev chromium chromium-driver python3-selenium python3-websocket
  # The manual pages (help2man), the Debian package's computed dependencies (dpkg-shlibdeps)
  # and the check of its desktop entry
  help2man dpkg-dev desktop-file-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
