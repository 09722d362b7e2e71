#!/usr/bin/env bash
# Builds a release a user can download: both Windows widths in release mode, each program
# stripped of its symbols (and signed, when a certificate is given), and writes dist/:
#   zephra-<version>-x86.zip, zephra-<version>-x64.zip: in a folder of the same name, the
#     programs (zephra.exe and zephra-cli.exe), README.txt for the person who downloads
#     them, and THIRD-PARTY-NOTICES.txt (the licences of what is linked in);
#   zephra-<version>-x86.msi, zephra-<version>-x64.msi: the installer packages
#     (tools/msi.sh) of the same stripped and signed programs, signed themselves;
#   SHA256SUMS: the checksums of the archives and the packages.
# The version is the CMake project version (CMakeLists.txt), the one in each program's
# version resource.
#
# Signing (Authenticode, SHA-256, osslsigncode) when the environment names the files:
#   ZEPHRA_SIGN_CERT           the code-signing certificate, with its chain (PEM or DER)
#   ZEPHRA_SIGN_KEY            its private key
#   ZEPHRA_SIGN_PASSWORD_FILE  the key's password, if it has one
#   ZEPHRA_SIGN_TIMESTAMP      an RFC 3161 timestamp server's URL; no timestamp without it
# Without a certificate the programs and packages are unsigned, and it says so.
#
# Usage: tools/release.sh [DIST-DIR]   (dist/ of the project by default)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dist=$(mkdir -p "${1:-$root/dist}" && cd "${1:-$root/dist}" && pwd)

# The programs of each archive: CMake target and the program's path in the build.
# Another program is one more line.
programs=(
  "zephra app/zephra.exe"
  "zephra-cli cli/zephra-cli.exe"
)

fail() {
  echo "release: $*" >&2
  exit 1
}

bash "$root/tools/setup.sh" || fail "setting up the machine failed (see above)"

signing=0
if [[ -n "${ZEPHRA_SIGN_CERT:-}" || -n "${ZEPHRA_SIGN_KEY:-}" ]]; then
  [[ -f "${ZEPHRA_SIGN_CERT:-}" && -f "${ZEPHRA_SIGN_KEY:-}" ]] ||
    fail "ZEPHRA_SIGN_CERT and ZEPHRA_SIGN_KEY must both name files to sign with"
  signing=1
fi

# sign FILE: Authenticode signature in place.
sign() {
  local file=$1 signed="$1.signed"
  local options=(-certs "$ZEPHRA_SIGN_CERT" -key "$ZEPHRA_SIGN_KEY" -h sha256 -n "Zephra")
  if [[ -n "${ZEPHRA_SIGN_PASSWORD_FILE:-}" ]]; then options+=(-readpass "$ZEPHRA_SIGN_PASSWORD_FILE"); fi
  if [[ -n "${ZEPHRA_SIGN_TIMESTAMP:-}" ]]; then options+=(-ts "$ZEPHRA_SIGN_TIMESTAMP"); fi
  rm -f "$signed"
  osslsigncode sign "${options[@]}" -in "$file" -out "$signed" >/dev/null ||
    fail "signing $(basename "$file") failed (see above)"
  mv "$signed" "$file"
}

# Archives carry the time of the last commit, so that the same sources give the same bytes.
stamp=$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)

# Only what this run writes is replaced; the checksums cover exactly that.
rm -rf "$dist/.stage"
rm -f "$dist"/zephra-*.zip "$dist"/zephra-*.msi "$dist/SHA256SUMS"
written=()
version=
for width in x86 x64; do
  if [[ $width == x86 ]]; then
    build="$root/build/windows" toolchain=mingw-i686.cmake strip=i686-w64-mingw32-strip
  else
    build="$root/build/windows64" toolchain=mingw-x86_64.cmake strip=x86_64-w64-mingw32-strip
  fi
  targets=()
  for entry in "${programs[@]}"; do targets+=("${entry%% *}"); done
  echo "release: building the $width programs in $build"
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" -DCMAKE_BUILD_TYPE=Release >/dev/null ||
    fail "configuring $build failed (see above)"
  cmake --build "$build" -j "$(nproc)" --target "${targets[@]}" >/dev/null ||
    fail "building the $width programs failed (run: cmake --build $build)"
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
  [[ -n "$version" ]] || fail "no project version in $build/CMakeCache.txt"

  name="zephra-$version-$width"
  stage="$dist/.stage/$name"
  mkdir -p "$stage"
  # The installer takes the programs from a folder laid out as a build.
  msi_stage="$dist/.stage/msi-$width"
  for entry in "${programs[@]}"; do
    path=${entry#* }
    "$strip" -o "$stage/$(basename "$path")" "$build/$path"
    if ((signing)); then sign "$stage/$(basename "$path")"; fi
    mkdir -p "$msi_stage/$(dirname "$path")"
    cp "$stage/$(basename "$path")" "$msi_stage/$path"
  done
  sed -e "s/@VERSION@/$version/g" -e "s/@WIDTH@/$width, for $([[ $width == x86 ]] && echo 32 || echo 64)-bit Windows/g" \
    "$root/release/README.txt" >"$stage/README.txt"
  cp "$root/release/THIRD-PARTY-NOTICES.txt" "$stage/"
  # Plain text for Notepad: CRLF line ends. Zip entries in a fixed order and time.
  python3 - "$dist/.stage" "$name" "$dist/$name.zip" "$stamp" <<'PY'
import os, sys, time, zipfile
top, name, out, stamp = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
when = time.gmtime(max(stamp, 315532800))[:6]
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    for file in sorted(os.listdir(os.path.join(top, name))):
        with open(os.path.join(top, name, file), "rb") as f:
            data = f.read()
        if file.endswith(".txt"):
            data = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
        entry = zipfile.ZipInfo(name + "/" + file, when)
        entry.external_attr = 0o644 << 16
        entry.compress_type = zipfile.ZIP_DEFLATED
        z.writestr(entry, data)
PY
  msi=$(bash "$root/tools/msi.sh" "$msi_stage" "$dist" "$version" | tail -n 1) || fail "building the $width installer failed (see above)"
  [[ "$(basename "$msi")" == "zephra-$version-$width.msi" ]] || fail "the $width installer is $msi"
  if ((signing)); then sign "$msi"; fi
  written+=("$name.zip" "$(basename "$msi")")
  echo "release: $dist/$name.zip"
done
rm -rf "$dist/.stage"
(cd "$dist" && sha256sum "${written[@]}" >SHA256SUMS)
if ((signing)); then
  echo "release: the programs and packages are signed with $(openssl x509 -in "$ZEPHRA_SIGN_CERT" -noout -subject 2>/dev/null ||
    echo "$ZEPHRA_SIGN_CERT")$([[ -n "${ZEPHRA_SIGN_TIMESTAMP:-}" ]] && echo ", timestamped by $ZEPHRA_SIGN_TIMESTAMP")"
else
  echo "release: the programs and packages are UNSIGNED (no ZEPHRA_SIGN_CERT and ZEPHRA_SIGN_KEY): Windows warns before starting them"
fi
echo "release: Zephra $version in $dist: ${written[*]} SHA256SUMS"
