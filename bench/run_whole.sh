#!/usr/bin/env bash
# Whole-run benchmark: a generated project (default 6 images of 4000 x 3000 RGB over a 2000 x 2000
# DEM) orthorectified by ortavia-batch in tile mode and in pixel mode, against peers that write the
# same output pixels, all in one run of this script:
#   - gdal_translate + gdaladdo: each source image resampled (bilinear) to its ortho's size into a
#     tiled GeoTIFF, then the ortho's own overview levels built (nearest), as the orthos have them;
#   - gdalwarp (bilinear, one thread) resampling each source image to its ortho's size;
#   - gdal_translate of each source image to a tiled GeoTIFF (the I/O floor).
#   bench/run_whole.sh [WORK_DIR]     (default out/bench-whole; needs /usr/bin/time and gdal-bin)
# Environment: BENCH_IMAGES (6), BENCH_SIZE (4000x3000), BENCH_DEM (2000, or WxH), BENCH_GSD (0.5),
# BENCH_THREADS (empty: every core), BENCH_MODES ("16 1": tile steps to run).
# Prints a Markdown table with wall times, ratios to the peers, peak memory, and the stages of each
# ortavia-batch run read from its log lines as they arrived.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORTAVIA_BUILD_DIR:-$root/build}
work=${1:-$root/out/bench-whole}
images=${BENCH_IMAGES:-6} size=${BENCH_SIZE:-4000x3000} dem=${BENCH_DEM:-2000}
gsd=${BENCH_GSD:-0.5} threads=${BENCH_THREADS:-} modes=${BENCH_MODES:-"16 1"}

for tool in /usr/bin/time gdalwarp gdal_translate gdaladdo gdalinfo; do
  command -v "$tool" >/dev/null || { echo "run_whole: $tool is missing (apt-get install time gdal-bin)" >&2; exit 2; }
done
"$root/scripts/build" --target ortavia-batch >/dev/null
batch=$build/ortavia-batch

mkdir -p "$work"
project=$work/project
if [ ! -f "$project/orientations.txt" ]; then
  "$batch" sample "$project" --images "$images" --size "$size" --bands 3 --dem-size "$dem" >/dev/null 2>&1
fi

# Runs a command under /usr/bin/time -v; prints "seconds peak_kib". The command's stderr, each
# line prefixed with the moment it arrived, is kept in $work/cmd.err.
measure() {
  local log=$work/time.log
  { /usr/bin/time -v -o "$log" "$@" 2>&1 >"$work/cmd.out" || echo "run_whole: failed"; } |
    stamp >"$work/cmd.err"
  ! grep -q "run_whole: failed" "$work/cmd.err" || { cat "$work/cmd.err" "$log" >&2; exit 1; }
  local wall rss
  wall=$(grep 'Elapsed (wall clock)' "$log" | awk '{print $NF}')
  rss=$(grep 'Maximum resident set size' "$log" | awk '{print $NF}')
  # h:mm:ss or m:ss.xx to seconds
  echo "$wall" | awk -F: -v rss="$rss" '{s=0; for(i=1;i<=NF;i++) s=s*60+$i; printf "%.2f %d\n", s, rss}'
}
stamp() { while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done; }

# Seconds from the first stamped line holding $2 (empty: the first line) to the first holding $3
# (empty: the last line).
span() {
  awk -v a="$2" -v b="$3" '
    NR == 1 { first = $1 } { last = $1 }
    ta == "" && (a == "" || index($0, a)) { ta = $1 }
    b != "" && tb == "" && index($0, b) { tb = $1 }
    END { if (b == "") tb = last; if (ta == "" || tb == "") print "-"; else printf "%.2f", tb - ta }' "$1"
}

thread_args=()
[ -n "$threads" ] && thread_args=(--threads "$threads")
run_mode() {  # tile step, output folder
  rm -rf "$2"
  measure "$batch" run --dem "$project/dem.tif" --passport "$project/camera.bcc" \
    --eo "$project/orientations.txt" --image-dir "$project/images" --gsd "$gsd" --tile "$1" \
    "${thread_args[@]}" --out "$2"
}

declare -A wall kib stages
first_mode=
for m in $modes; do
  read -r "wall[$m]" "kib[$m]" < <(run_mode "$m" "$work/tile$m")
  cp "$work/cmd.err" "$work/tile$m.log"
  l=$work/tile$m.log
  stages[$m]="inputs $(span "$l" "" "External Orientations successfully added") s, footprints $(span "$l" \
"External Orientations successfully added" "Process started") s, mosaic stage $(span "$l" \
"start building overviews" "end building overviews") s, warp and ortho files $(span "$l" \
"start warping images" "end warping images") s, report $(span "$l" "end warping images" "") s"
  first_mode=${first_mode:-$m}
done

# Output pixels and overview levels of the orthos and, for each, the source it came from.
total_px=0
pairs=()
for ortho in "$work/tile$first_mode"/*.tif; do
  name=$(basename "$ortho" .tif)
  case "$name" in coverage|voronoi) continue ;; esac
  info=$(gdalinfo "$ortho")
  read -r w h < <(awk '/^Size is/ {gsub(",", ""); print $3, $4}' <<<"$info")
  levels=$(awk -v w="$w" '/^  Overviews:/ && !done {
      n = split($0, o, ","); for (i = 1; i <= n; i++) { split(o[i], d, /[: x]+/); x = d[length(d) - 1]
        printf "%s%d", (i > 1 ? "," : ""), int(w / x + 0.5) } done = 1 }' <<<"$info")
  total_px=$((total_px + w * h))
  pairs+=("$name $w $h ${levels:-none}")
done
[ ${#pairs[@]} -gt 0 ] || { echo "run_whole: no ortho written" >&2; exit 1; }

peers=$work/peers
rm -rf "$peers" && mkdir -p "$peers"
read -r sw sh < <(gdalinfo "$project/images/${pairs[0]%% *}.tif" | awk '/^Size is/ {gsub(",", ""); print $3, $4}')
tiled=(-co TILED=YES -co BLOCKXSIZE=256 -co BLOCKYSIZE=256)
cat >"$peers/translate_addo.sh" <<SH
set -e
for p in $(printf '"%s" ' "${pairs[@]}"); do
  set -- \$p
  gdal_translate -q -r bilinear -outsize \$2 \$3 ${tiled[*]} "$project/images/\$1.tif" "$peers/\$1_out.tif"
  [ "\$4" = none ] || gdaladdo -q -r nearest "$peers/\$1_out.tif" \${4//,/ }
done
SH
cat >"$peers/warp.sh" <<SH
set -e
for p in $(printf '"%s" ' "${pairs[@]}"); do
  set -- \$p
  gdal_translate -q -of VRT -a_ullr 0 $sh $sw 0 "$project/images/\$1.tif" "$peers/\$1.vrt"
  gdalwarp -q -overwrite -r bilinear -wo NUM_THREADS=1 -te 0 0 $sw $sh -ts \$2 \$3 ${tiled[*]} \
    "$peers/\$1.vrt" "$peers/\$1_warp.tif"
done
SH
cat >"$peers/translate.sh" <<SH
set -e
for p in $(printf '"%s" ' "${pairs[@]}"); do
  set -- \$p
  gdal_translate -q ${tiled[*]} "$project/images/\$1.tif" "$peers/\$1_tiled.tif"
done
SH
read -r ta_s ta_kib < <(measure bash "$peers/translate_addo.sh")
read -r warp_s warp_kib < <(measure bash "$peers/warp.sh")
read -r tr_s tr_kib < <(measure bash "$peers/translate.sh")

mp=$(awk -v p="$total_px" 'BEGIN {printf "%.1f", p / 1e6}')
row() { awk -v n="$1" -v s="$2" -v k="$3" -v p="$total_px" -v a="$ta_s" -v g="$warp_s" -v t="$tr_s" \
  'BEGIN {printf "| %s | %.2f | %.1f | %.0f | %.2f | %.2f | %.2f |\n", n, s, p/1e6/s, k/1024, s/a, s/g, s/t}'; }
echo "Project: $images images of $size RGB, DEM $dem, GSD $gsd, threads ${threads:-every core} ($(nproc) here);"
echo "${#pairs[@]} orthos, $mp output megapixels; load average before the peers: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| run | wall s | output MP/s | peak MiB | / (gdal_translate + gdaladdo) | / gdalwarp | / gdal_translate |"
echo "|---|---|---|---|---|---|---|"
for m in $modes; do
  label="ortavia-batch, tile mode ($m)"
  [ "$m" = 1 ] && label="ortavia-batch, pixel mode (1)"
  row "$label" "${wall[$m]}" "${kib[$m]}"
done
row "gdal_translate -outsize + gdaladdo" "$ta_s" "$ta_kib"
row "gdalwarp bilinear, 1 thread" "$warp_s" "$warp_kib"
row "gdal_translate to tiled GeoTIFF" "$tr_s" "$tr_kib"
echo
for m in $modes; do echo "Stages, --tile $m: ${stages[$m]}"; done
echo
for p in "${pairs[@]}"; do set -- $p; printf '%s %sx%s (overviews %s); ' "$1" "$2" "$3" "$4"; done
echo
