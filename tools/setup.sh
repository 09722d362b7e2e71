#!/usr/bin/env bash
# Installs everything the builds and tests need on a Debian 12 machine (run as root).
# Idempotent: when every package is already present it only checks and returns.
set -euo pipefail

packages=(
  cmake make g++ python3
  # native test build: 32-bit like the product, with sanitizers
  g++-multilib lib32asan8 lib32ubsan1 lib32z1-dev googletest libbenchmark-dev zlib1g-dev
  # Windows build: mingw-w64 for i686 with posix threads, zlib for it, stb_image
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  libz-mingw-w64-dev libstb-dev
  # running it: 32-bit Wine, headless X, a metric-compatible Arial, screenshots
  wine wine32:i386 xvfb xauth fonts-liberation imagemagick x11-apps xdotool tesseract-ocr tesseract-ocr-eng
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
