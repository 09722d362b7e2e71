#!/usr/bin/env bash
# Fuzzes the skin package reader, the layout markup reader and the image decoder with libFuzzer
# (clang, AddressSanitizer, UBSan). Not part of the tests: run it by hand.
# Usage: tools/fuzz.sh [seconds per target [target...]]
#   seconds: default 60 (FUZZ_SECONDS works too); targets: zip markup image (default all)
# Findings are written to build/fuzz/artifacts; the grown corpus stays in build/fuzz/corpus.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-${FUZZ_SECONDS:-60}}
targets=("${@:2}")
((${#targets[@]})) || targets=(zip markup image)
out="$root/build/fuzz"

clangxx=clang++-14
if ! command -v "$clangxx" >/dev/null || ! dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q "ok installed"; then
  echo "fuzz: installing clang-14 and its sanitizer runtimes"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends clang-14 libclang-rt-14-dev >/dev/null
fi

for kind in zip markup image; do mkdir -p "$out/seeds/$kind" "$out/corpus/$kind"; done
mkdir -p "$out/artifacts"
flags=(-std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I"$root")
"$clangxx" "${flags[@]}" "$root/tests/fuzz/fuzz_zip.cpp" "$root/duilib/core/ZipArchive.cpp" \
  -lz -o "$out/fuzz_zip"
"$clangxx" "${flags[@]}" "$root/tests/fuzz/fuzz_markup.cpp" "$root/duilib/core/Markup.cpp" \
  -o "$out/fuzz_markup"
"$clangxx" "${flags[@]}" -isystem /usr/include/stb "$root/tests/fuzz/fuzz_image.cpp" \
  "$root/duilib/core/Image.cpp" -o "$out/fuzz_image"

# Seeds: the real layouts and images, and small archives of them (deflated, stored, with a folder
# and a comment) made with Python's zipfile.
cp "$root"/skin/*.xml "$out/seeds/markup/"
# Small images keep the image fuzzer fast: the skin's PNGs under 4 KB, and (with
# ImageMagick) tiny JPEGs and PNGs in the layouts the decoder has separate paths for.
find "$root/skin" -name '*.png' -size -4k -exec cp {} "$out/seeds/image/" \;
if command -v convert >/dev/null; then
  src="$root/skin/warning.png"
  convert "$src" -resize 12x10 "$out/seeds/image/baseline.jpg"
  convert "$src" -resize 12x10 -interlace JPEG "$out/seeds/image/progressive.jpg"
  convert "$src" -resize 12x10 -colorspace Gray "$out/seeds/image/gray.jpg"
  convert "$src" -resize 12x10 -interlace PNG "$out/seeds/image/interlaced.png"
  convert "$src" -resize 12x10 -colors 8 PNG8:"$out/seeds/image/palette.png"
  convert "$src" -resize 12x10 -depth 16 PNG64:"$out/seeds/image/deep.png"
  convert "$src" -resize 12x10 -colorspace Gray PNG:"$out/seeds/image/gray.png"
fi
python3 - "$root/skin" "$out/seeds/zip" <<'PY'
import glob, os, sys, zipfile
skin, dest = sys.argv[1], sys.argv[2]
layouts = sorted(glob.glob(os.path.join(skin, '*.xml')))
def make(name, method, folder=False, comment=b''):
    with zipfile.ZipFile(os.path.join(dest, name), 'w') as z:
        for path in layouts:
            z.write(path, os.path.basename(path), compress_type=method)
        if folder:
            z.writestr('images/', b'')
            z.writestr('images/icon.txt', b'icon' * 50, compress_type=zipfile.ZIP_DEFLATED)
        z.comment = comment
make('deflated.zip', zipfile.ZIP_DEFLATED)
make('stored.zip', zipfile.ZIP_STORED)
make('folder-comment.zip', zipfile.ZIP_DEFLATED, folder=True, comment=b'skin package')
PY

run() {
  local name=$1; shift
  echo "== $name for ${seconds}s"
  "$out/$name" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=2048 \
    -artifact_prefix="$out/artifacts/$name-" "$@" "$out/corpus/${name#fuzz_}" "$out/seeds/${name#fuzz_}"
}
for target in "${targets[@]}"; do
  case $target in
    zip) run fuzz_zip -max_len=65536 ;;
    markup) run fuzz_markup -dict="$root/tests/fuzz/markup.dict" ;;
    image) run fuzz_image -max_len=8192 ;;
    *) echo "fuzz: unknown target $target" >&2; exit 2 ;;
  esac
done
