#!/usr/bin/env bash
# Builds the Windows Installer package of one Windows build with wixl (Debian's msitools):
#
#   tools/msi.sh BUILD-DIR [OUT-DIR] [VERSION]
#
# BUILD-DIR is a Windows build (build/windows or build/windows64) holding app/zephra.exe
# and cli/zephra-cli.exe; the width comes from the build, the version from the CMake
# project version in its cache unless given. Writes OUT-DIR/zephra-<version>-<x86|x64>.msi
# (OUT-DIR: BUILD-DIR/installer) and prints its path.
#
# Each program's row of the File table carries its file version (read from the program's
# version resource), so that Windows Installer compares versions on repair and upgrade;
# wixl leaves the column empty, so it is filled in afterwards (msibuild).
#
# Codes: one fixed upgrade code per width, so that a newer package replaces an older one
# (MajorUpgrade); the product code and the component codes are derived from the version
# and the width (name-based UUIDs), so each version has a product code of its own and a
# rebuild of the same version has the same one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
out=${2:-$build/installer}
version=${3:-$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")}
[[ -n "$version" ]] || { echo "msi: no project version in $build/CMakeCache.txt" >&2; exit 2; }
window="$build/app/zephra.exe"
cli="$build/cli/zephra-cli.exe"
for exe in "$window" "$cli"; do
  [[ -f "$exe" ]] || { echo "msi: $exe is missing: build the programs first" >&2; exit 2; }
done
for tool in wixl msiinfo msibuild; do
  command -v $tool >/dev/null || { echo "msi: $tool is missing (Debian package msitools; tools/setup.sh installs it)" >&2; exit 2; }
done

# The machine field of the PE header: 0x8664 for x86_64, 0x014c for i686.
pe_offset=$(od -An -tu4 -j60 -N4 "$window" | tr -d ' ')
case "$(od -An -tx2 -j$((pe_offset + 4)) -N2 "$window" | tr -d ' ')" in
  8664) arch=x64 platform=x64 programfiles=ProgramFiles64Folder win64=yes
        upgrade=931FEC89-0206-470C-B352-07C2BE8F9BEC ;;
  014c) arch=x86 platform=x86 programfiles=ProgramFilesFolder win64=no
        upgrade=2A6E1CA1-7919-4EE6-8B7F-2AADB2F96EDB ;;
  *) echo "msi: $window is not an i686 or x86_64 program" >&2; exit 2 ;;
esac

# Name-based codes under the project's own namespace.
code() { python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID("9cd339c8-e579-4339-88c1-6ebe89b38ae8"), sys.argv[1])).upper())' "$1"; }

mkdir -p "$out"
out=$(cd "$out" && pwd)
msi="$out/zephra-$version-$arch.msi"
# wixl takes the files from the folder it runs in.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$window" "$cli" "$root/installer/zephra.wxs" "$stage/"
cd "$stage"
wixl -a "$platform" -o "$msi" \
  -D Version="$version" -D Platform="$platform" -D Publisher="Zephra" \
  -D UpgradeCode="$upgrade" -D ProductCode="$(code "product-$version-$arch")" \
  -D ProgramFiles="$programfiles" -D Win64="$win64" \
  -D WindowComponent="$(code "component-window-$arch")" -D CliComponent="$(code "component-cli-$arch")" \
  -D ShortcutComponent="$(code "component-shortcut-$arch")" \
  zephra.wxs

# The File table with each program's file version (VS_FIXEDFILEINFO's dwFileVersionMS/LS).
msiinfo export "$msi" File >File.idt
python3 - File.idt zephra.exe zephra-cli.exe <<'PY'
import struct, sys
table, programs = sys.argv[1], sys.argv[2:]
versions = {}
for name in programs:
    data = open(name, "rb").read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        sys.exit("msi: %s has no version resource" % name)
    ms, ls = struct.unpack_from("<II", data, at + 8)
    versions[name.lower()] = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
with open(table, newline="") as f:
    lines = f.read().split("\n")
for i in range(3, len(lines)):
    fields = lines[i].rstrip("\r").split("\t")
    if len(fields) == 8:
        name = fields[2].split("|")[-1].lower()  # FileName: "short|long" or one name
        if name not in versions:
            sys.exit("msi: the File table has %s, which is no program of the package" % name)
        fields[4] = versions.pop(name)
        lines[i] = "\t".join(fields)
if versions:
    sys.exit("msi: no File row for %s" % ", ".join(sorted(versions)))
with open(table, "w", newline="") as f:
    f.write("\n".join(lines))
PY
msibuild "$msi" -i File.idt
echo "$msi"
