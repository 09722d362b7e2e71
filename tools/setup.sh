#!/usr/bin/env bash
# Installs everything the builds and tests need on a Debian 12 machine (run as root), and
# finds out whether this kernel runs 32-bit programs natively.
# Idempotent: when every package is already present it only checks and returns.
#
# The answer goes to build/host-32bit: "native", or "emulated" when 32-bit programs run
# only under qemu-user (the kernel has no 32-bit support, or ZEPHRA_NO_NATIVE_32BIT=1
# asks this machine to behave as such a one).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  cmake make g++ python3
  # native test builds, 32-bit and 64-bit, with sanitizers
  g++-multilib lib32asan8 lib32ubsan1 lib32z1-dev googletest libbenchmark-dev zlib1g-dev
  # Windows builds: mingw-w64 for i686 and x86_64 with posix threads, zlib for both, stb_image
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  libz-mingw-w64-dev libstb-dev
  # running them: 32-bit and 64-bit Wine, headless X, a metric-compatible Arial, screenshots
  wine wine32:i386 wine64 xvfb xauth fonts-liberation imagemagick x11-apps
  # the program tests: the pointer through the X server, reading screenshots
  xdotool tesseract-ocr tesseract-ocr-eng
  # the release: Authenticode signing, reading version resources back, zip archives
  osslsigncode openssl icoutils
  # the Windows Installer packages: wixl builds them, msiinfo (msitools) reads them back
  wixl msitools
)

install_packages() {
  local missing=() p status
  for p in "$@"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  echo "setup: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq -o DPkg::Lock::Timeout=600 --no-install-recommends "${missing[@]}" >/dev/null
}

install_packages "${packages[@]}"

# ---- does this kernel run 32-bit programs, and natively? ----
# A tiny 32-bit program reads the CPU's brand string with cpuid. Where it does not start
# at all, the kernel runs no 32-bit programs. Where it starts, it may still be emulated: a
# qemu-user registration for i386 (binfmt_misc) runs every 32-bit program on any kernel,
# and names itself in the brand string instead of the processor /proc/cpuinfo names.
probe_dir="$root/build/probe"
mkdir -p "$probe_dir"
cat >"$probe_dir/cpu-brand.c" <<'EOF'
#include <cpuid.h>
#include <stdio.h>
#include <string.h>
int main(void) {
    unsigned int r[12] = {0};
    for (unsigned int i = 0; i < 3; ++i)
        __get_cpuid(0x80000002u + i, &r[4 * i], &r[4 * i + 1], &r[4 * i + 2], &r[4 * i + 3]);
    char brand[49];
    memcpy(brand, r, 48);
    brand[48] = 0;
    puts(brand);
    return 0;
}
EOF
gcc -m32 -O1 -o "$probe_dir/cpu-brand32" "$probe_dir/cpu-brand.c"

trim() { sed -e 's/^[[:space:]]*//' -e 's/[[:space:]]*$//' -e 's/[[:space:]][[:space:]]*/ /g'; }
host_brand=$(grep -m1 '^model name' /proc/cpuinfo | cut -d: -f2- | trim || true)
probe_brand=$("$probe_dir/cpu-brand32" 2>/dev/null | trim || true)

qemu=/usr/bin/qemu-i386-static
binfmt=/proc/sys/fs/binfmt_misc

# Registers qemu-user for i386 ELF programs (the F flag keeps the interpreter open, so it
# also serves programs started in other mount namespaces). Returns 0 when it registered
# it now, 2 when a registration was there already, 1 when binfmt_misc takes none.
register_qemu_i386() {
  if [[ ! -e "$binfmt/register" ]]; then
    mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
  fi
  if ls "$binfmt" 2>/dev/null | grep -q 'i386'; then return 2; fi
  [[ -w "$binfmt/register" ]] || return 1
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
    >"$binfmt/register" 2>/dev/null || return 1
}

if [[ "${ZEPHRA_NO_NATIVE_32BIT:-}" == 1 ]]; then
  install_packages qemu-user-static
  echo "setup: ZEPHRA_NO_NATIVE_32BIT=1: this machine is treated as one whose kernel runs no 32-bit programs; 32-bit programs run under $qemu"
  mode=emulated
elif [[ -n "$probe_brand" && "$probe_brand" == "$host_brand" ]]; then
  mode=native
else
  install_packages qemu-user-static
  registered=0
  register_qemu_i386 || registered=$?
  case $registered in
    0) echo "setup: this kernel runs no 32-bit programs natively; registered qemu-user ($qemu) for them through binfmt_misc" ;;
    2) echo "setup: this kernel runs no 32-bit programs natively; they run under qemu-user, registered through binfmt_misc" ;;
    *) echo "setup: this kernel runs no 32-bit programs natively, and binfmt_misc takes no registration here; 32-bit test programs start through $qemu directly" ;;
  esac
  mode=emulated
fi
echo "$mode" >"$root/build/host-32bit"
