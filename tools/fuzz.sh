#!/usr/bin/env bash
# Fuzzes the skin package reader, the layout markup reader, the image decoder, the drive
# paths (a hostile drive, driver or bridge in front of the simulated machine) and the
# history file's parser with libFuzzer
# (clang, AddressSanitizer, UBSan), and the image decoder once more under MemorySanitizer.
# Not part of the tests: run it by hand.
# Usage: tools/fuzz.sh [seconds per target [target...]]
#   seconds: default 60 (FUZZ_SECONDS works too); targets: zip markup image image-msan drive
#   history (default all); drive is the hostile drive, driver or bridge in front of the enumeration,
#   the switch and the command layer (tests/fuzz/fuzz_drive.cpp)
#   image-msan first replays the decoder's test inputs and the seeds in one process (an input
#   that leaves memory behind for the next one matters), then fuzzes.
# Findings are written to build/fuzz/artifacts; the grown corpus stays in build/fuzz/corpus.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-${FUZZ_SECONDS:-60}}
targets=("${@:2}")
((${#targets[@]})) || targets=(zip markup image image-msan drive history)
out="$root/build/fuzz"

clangxx=clang++-14
if ! command -v "$clangxx" >/dev/null || ! dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q "ok installed"; then
  echo "fuzz: installing clang-14 and its sanitizer runtimes"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends clang-14 libclang-rt-14-dev >/dev/null
fi

for kind in zip markup image image_msan drive history; do mkdir -p "$out/seeds/$kind" "$out/corpus/$kind"; done
mkdir -p "$out/artifacts" "$out/obj"
flags=(-std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I"$root")
# Only the targets asked for are built.
wanted() { [[ " ${targets[*]} " == *" $1 "* ]]; }
wanted zip && "$clangxx" "${flags[@]}" "$root/tests/fuzz/fuzz_zip.cpp" "$root/duilib/core/ZipArchive.cpp" \
  -lz -o "$out/fuzz_zip"
wanted markup && "$clangxx" "${flags[@]}" "$root/tests/fuzz/fuzz_markup.cpp" "$root/duilib/core/Markup.cpp" \
  -o "$out/fuzz_markup"
# The image decoder, built as the library builds it: stb's unit with wrapping signed arithmetic.
# MemorySanitizer wants every instrumented byte it reads to come from instrumented code; zlib
# (not instrumented) only counts the PNG data, whose inflated bytes are never read.
image() {
  local name=$1; shift
  "$clangxx" "$@" -isystem /usr/include/stb -fwrapv -c "$root/duilib/core/StbImage.cpp" \
    -o "$out/obj/$name-stb.o"
  "$clangxx" "$@" -isystem /usr/include/stb "$root/tests/fuzz/fuzz_image.cpp" \
    "$root/duilib/core/Image.cpp" "$root/duilib/core/ImageResample.cpp" "$out/obj/$name-stb.o" -lz -o "$out/$name"
}
wanted image && image fuzz_image "${flags[@]}"
# The enumeration pass, the switch and the command layer over the simulated machine.
# The whole simulator, so that a new part of it needs no change here.
drive_sources=("$root"/devicecmd/*.cpp "$root"/discovery/*.cpp "$root"/optimize/*.cpp "$root"/history/*.cpp
  "$root"/sim/*.cpp)
wanted drive && "$clangxx" "${flags[@]}" "$root/tests/fuzz/fuzz_drive.cpp" "${drive_sources[@]}" -o "$out/fuzz_drive"
wanted history && "$clangxx" "${flags[@]}" "$root/tests/fuzz/fuzz_history.cpp" "$root"/history/*.cpp \
  "$root/devicecmd/HealthDecode.cpp" -o "$out/fuzz_history"
wanted image-msan && image fuzz_image_msan -std=c++17 -g -O1 -fsanitize=fuzzer,memory \
  -fsanitize-memory-track-origins -I"$root"

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
# The decoder's test inputs (reproducers of earlier findings among them), and a 1 x 1 PNG whose
# image data inflates to 4 MB.
cp "$root"/tests/duilib-core/data/image/*.{png,jpg} "$out/seeds/image/"
python3 - "$out/seeds/image/bomb.png" <<'PY'
import struct, sys, zlib
def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
header = struct.pack('>IIBBBBB', 1, 1, 8, 6, 0, 0, 0)
with open(sys.argv[1], 'wb') as f:
    f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) +
            chunk(b'IDAT', zlib.compress(bytes(4 << 20), 9)) + chunk(b'IEND', b''))
PY
cp "$out"/seeds/image/* "$out/seeds/image_msan/"
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

# The drive's seeds: every call answered as a sound drive answers, on each path (the first
# byte picks the machine: path, another maker's drive first, state, refusals, an exchange).
for shape in 0 1 2 3 4 5 6 7 8 9 10 11 16 17 18 19 32 33 34; do
  printf "\\x$(printf %02x "$shape")" > "$out/seeds/drive/shape-$shape"
done
# And the reproducers of earlier findings (tests/fuzz/drive), run first as seeds:
# rst-address-moves-before-the-write: behind RST, the disk's SCSI_ADDRESS names the other
# drive's PathId between the switch's identify and its write;
# bridge-node-names-the-sata-disk: the bridge's disk interface gives the SATA disk's number.
cp "$root"/tests/fuzz/drive/* "$out/seeds/drive/"

# The history's seeds: a file as the store writes it, one with a torn last line, one whose
# counters pass 2^64, and a file of another program.
header="time_utc,temperature_c,available_spare_pct,available_spare_threshold_pct,percentage_used,data_units_read,data_units_written,power_on_hours,power_cycles,unsafe_shutdowns,media_errors,error_log_entries,warning_temperature_minutes,critical_temperature_minutes,critical_warning"
line="2026-12-11T12:22:06Z,38,100,10,3,12345678,9876543,1873,412,7,0,2,5,0,0"
printf '%s\n%s\n%s\n' "$header" "$line" "$line" > "$out/seeds/history/two-days.csv"
printf '%s\n%s\n%s' "$header" "$line" "${line:0:30}" > "$out/seeds/history/torn.csv"
printf '%s\r\n2030-01-01T00:00:00Z,,5,10,255,340282366920938463463374607431768211455,18446744073709551616,1,1,1,1,1,4294967295,1,255\r\n' \
  "$header" > "$out/seeds/history/extremes.csv"
printf 'name,value\n1,2\n' > "$out/seeds/history/foreign.csv"

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
    # A drive input makes many buffered SCSI requests of 66 KB each; a smaller quarantine
    # (still a few hundred of them) reuses freed memory instead of faulting in fresh pages.
    history) run fuzz_history -max_len=4096 ;;
    drive) ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16} run fuzz_drive -max_len=4096 ;;
    image-msan)
      echo "== fuzz_image_msan: the decoder's test inputs and the seeds, in one process"
      # Sorted names put seq1 (which leaves rows on the heap) before seq2 (which would read them).
      "$out/fuzz_image_msan" "$out"/seeds/image_msan/*
      run fuzz_image_msan -max_len=8192 ;;
    *) echo "fuzz: unknown target $target" >&2; exit 2 ;;
  esac
done
