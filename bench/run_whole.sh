#!/usr/bin/env bash
# Whole-run benchmark: a generated project of 6 images of 4000 x 3000 RGB over a 2000 x 2000 DEM,
# orthorectified in tile mode and in pixel mode by ortavia-batch, against the peer figures for the
# same output pixels: gdalwarp (bilinear, one thread) resampling each source image to its ortho's
# size, and gdal_translate of each source to a tiled GeoTIFF (the I/O floor).
#   bench/run_whole.sh [WORK_DIR]     (default out/bench-whole; needs /usr/bin/time and gdal-bin)
# Prints a Markdown table with wall times, output megapixels per second and peak memory.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORTAVIA_BUILD_DIR:-$root/build}
work=${1:-$root/out/bench-whole}
images=${BENCH_IMAGES:-6} size=${BENCH_SIZE:-4000x3000} dem=${BENCH_DEM:-2000}

for tool in /usr/bin/time gdalwarp gdal_translate gdalinfo; do
  command -v "$tool" >/dev/null || { echo "run_whole: $tool is missing (apt-get install time gdal-bin)" >&2; exit 2; }
done
"$root/scripts/build" --target ortavia-batch >/dev/null
batch=$build/ortavia-batch

mkdir -p "$work"
project=$work/project
if [ ! -f "$project/orientations.txt" ]; then
  "$batch" sample "$project" --images "$images" --size "$size" --bands 3 --dem-size "$dem" 2>/dev/null
fi

# Runs a command under /usr/bin/time -v; prints "seconds peak_kib". The command's stderr is kept
# in $work/cmd.err.
measure() {
  local log=$work/time.log
  /usr/bin/time -v -o "$log" "$@" >"$work/cmd.out" 2>"$work/cmd.err" || { cat "$work/cmd.err" "$log" >&2; exit 1; }
  local wall rss
  wall=$(grep 'Elapsed (wall clock)' "$log" | awk '{print $NF}')
  rss=$(grep 'Maximum resident set size' "$log" | awk '{print $NF}')
  # h:mm:ss or m:ss.xx to seconds
  echo "$wall" | awk -F: -v rss="$rss" '{s=0; for(i=1;i<=NF;i++) s=s*60+$i; printf "%.2f %d\n", s, rss}'
}

# Seconds between two log texts of a run (log lines start with "YYYY-MM-DD HH:MM:SS").
span() {
  local a b
  a=$(grep -m1 "$2" "$1" | cut -c1-19)
  b=$(grep -m1 "$3" "$1" | cut -c1-19)
  echo $(( $(date -d "$b" +%s) - $(date -d "$a" +%s) ))
}

run_mode() {  # tile step, output folder
  rm -rf "$2"
  measure "$batch" run --dem "$project/dem.tif" --passport "$project/camera.bcc" \
    --eo "$project/orientations.txt" --image-dir "$project/images" --gsd 0.5 --tile "$1" --out "$2"
}

read -r tile_s tile_kib < <(run_mode 16 "$work/tile")
cp "$work/cmd.err" "$work/tile.log"
read -r pixel_s pixel_kib < <(run_mode 1 "$work/pixel")
cp "$work/cmd.err" "$work/pixel.log"
tile_warp=$(span "$work/tile.log" "start warping images" "end warping images")
pixel_warp=$(span "$work/pixel.log" "start warping images" "end warping images")
tile_prep=$(span "$work/tile.log" "DTM added" "start warping images")

# Output pixels of the orthos and, for each, the source it came from.
total_px=0
pairs=()
for ortho in "$work"/tile/*.tif; do
  name=$(basename "$ortho" .tif)
  case "$name" in coverage|voronoi) continue ;; esac
  read -r w h < <(gdalinfo "$ortho" | awk '/^Size is/ {gsub(",", ""); print $3, $4}')
  total_px=$((total_px + w * h))
  pairs+=("$name $w $h")
done
[ ${#pairs[@]} -gt 0 ] || { echo "run_whole: no ortho written" >&2; exit 1; }

peers=$work/peers
rm -rf "$peers" && mkdir -p "$peers"
read -r sw sh < <(gdalinfo "$project/images/${pairs[0]%% *}.tif" | awk '/^Size is/ {gsub(",", ""); print $3, $4}')
cat >"$peers/warp.sh" <<SH
set -e
for p in $(printf '"%s" ' "${pairs[@]}"); do
  set -- \$p
  gdal_translate -q -of VRT -a_ullr 0 $sh $sw 0 "$project/images/\$1.tif" "$peers/\$1.vrt"
  gdalwarp -q -overwrite -r bilinear -wo NUM_THREADS=1 -te 0 0 $sw $sh -ts \$2 \$3 \
    -co TILED=YES -co BLOCKXSIZE=256 -co BLOCKYSIZE=256 "$peers/\$1.vrt" "$peers/\$1_warp.tif"
done
SH
cat >"$peers/translate.sh" <<SH
set -e
for p in $(printf '"%s" ' "${pairs[@]}"); do
  set -- \$p
  gdal_translate -q -co TILED=YES -co BLOCKXSIZE=256 -co BLOCKYSIZE=256 \
    "$project/images/\$1.tif" "$peers/\$1_tiled.tif"
done
SH
read -r warp_s warp_kib < <(measure bash "$peers/warp.sh")
read -r tr_s tr_kib < <(measure bash "$peers/translate.sh")

mp=$(awk -v p="$total_px" 'BEGIN {printf "%.1f", p / 1e6}')
row() { awk -v n="$1" -v s="$2" -v k="$3" -v w="$4" -v p="$total_px" -v g="$warp_s" -v t="$tr_s" \
  'BEGIN {printf "| %s | %.2f | %s | %.1f | %.0f | %.2f | %.2f |\n", n, s, w, p/1e6/s, k/1024, s/g, s/t}'; }
echo "Project: $images images of $size RGB, DEM ${dem} x ${dem}; ${#pairs[@]} orthos, $mp output megapixels"
echo
echo "| run | wall s | of which warp s | output MP/s | peak MiB | / gdalwarp | / gdal_translate |"
echo "|---|---|---|---|---|---|---|"
row "ortavia-batch, tile mode (16)" "$tile_s" "$tile_kib" "$tile_warp"
row "ortavia-batch, pixel mode (1)" "$pixel_s" "$pixel_kib" "$pixel_warp"
row "gdalwarp bilinear, 1 thread" "$warp_s" "$warp_kib" "-"
row "gdal_translate to tiled GeoTIFF" "$tr_s" "$tr_kib" "-"
echo
echo "Whole runs include loading the DEM, the footprints and the mosaic stage ($tile_prep s in tile mode)."
for ortho in "$work"/tile/*.tif; do
  case "$(basename "$ortho")" in coverage.tif|voronoi.tif) continue ;; esac
  gdalinfo "$ortho" | awk -v f="$(basename "$ortho")" '/^Size is/ {gsub(",", ""); printf "%s %sx%s; ", f, $3, $4}'
done
echo
