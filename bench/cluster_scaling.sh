#!/usr/bin/env bash
# Cluster scaling figures: one generated project run by ortavia-batch and by ortavia-mpi under
# mpirun with 1 and 2 ranks. Each run's stderr is time-stamped as it arrives (microseconds), and
# the stages are read from the log: inputs (start to "Process started"), mosaic stage
# ("start building overviews..." to "end building overviews..."), warp ("start warping images..."
# to "end warping images..."). Per image = warp seconds x warping ranks / images.
#   bench/cluster_scaling.sh [WORK_DIR]   (default out/bench-cluster; needs mpirun, /usr/bin/time)
# Environment: BENCH_IMAGES (12), BENCH_SIZE (2400x1800), BENCH_DEM (1000), BENCH_GSD (0.25),
# BENCH_RANKS ("1 2").
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORTAVIA_BUILD_DIR:-$root/build}
work=${1:-$root/out/bench-cluster}
images=${BENCH_IMAGES:-12} size=${BENCH_SIZE:-2400x1800} dem=${BENCH_DEM:-1000}
gsd=${BENCH_GSD:-0.25} ranks_list=${BENCH_RANKS:-"1 2"}

for tool in /usr/bin/time mpirun; do
  command -v "$tool" >/dev/null || { echo "cluster_scaling: $tool is missing" >&2; exit 2; }
done
"$root/scripts/build" --target ortavia-batch ortavia-mpi >/dev/null
mkdir -p "$work"
project=$work/project
if [ ! -f "$project/orientations.txt" ]; then
  "$build/ortavia-batch" sample "$project" --images "$images" --size "$size" --bands 3 \
    --dem-size "$dem" 2>/dev/null >/dev/null
fi
args=(run --dem "$project/dem.tif" --passport "$project/camera.bcc" --eo "$project/orientations.txt"
      --image-dir "$project/images" --gsd "$gsd" --overwrite)

stamp() { while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done; }

# Seconds from the first stamped line holding $2 to the first one holding $3 ($2 empty: the start).
span() {
  awk -v a="$2" -v b="$3" -v t0="${4:-}" '
    ta == "" && (a == "" || index($0, a)) { ta = (a == "" ? t0 : $1) }
    tb == "" && index($0, b) { tb = $1 }
    END { if (ta == "" || tb == "") print "-"; else printf "%.2f", tb - ta }' "$1"
}

# run NAME WARPING_RANKS COMMAND...: one table row.
run() {
  local name=$1 warping=$2; shift 2
  local err=$work/$name.err log=$work/$name.time t0
  rm -rf "$work/out-$name"
  t0=$EPOCHREALTIME
  { /usr/bin/time -v -o "$log" "$@" "${args[@]}" --out "$work/out-$name" 2>&1 >"$work/$name.out" \
      | stamp >"$err"; } || { cat "$err" >&2; exit 1; }
  local wall rss inputs mosaic warp
  wall=$(grep 'Elapsed (wall clock)' "$log" | awk '{print $NF}' |
         awk -F: '{s=0; for(i=1;i<=NF;i++) s=s*60+$i; printf "%.2f", s}')
  rss=$(grep 'Maximum resident set size' "$log" | awk '{printf "%d", $NF/1024}')
  inputs=$(span "$err" "" "Process started" "$t0")
  mosaic=$(span "$err" "start building overviews..." "end building overviews...")
  warp=$(span "$err" "start warping images..." "end warping images...")
  local per
  per=$(awk -v w="$warp" -v r="$warping" -v n="$images" 'BEGIN { printf "%.2f", w * r / n }')
  printf '| %s | %s | %s | %s | %s | %s | %s |\n' "$name" "$wall" "$inputs" "$mosaic" "$warp" "$per" "$rss"
}

echo "Project: $images images of $size RGB, DEM ${dem} x ${dem}, GSD $gsd; $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| run | wall s | inputs s | mosaic stage s | warp s | warp s per image and rank | peak MiB (largest process) |"
echo "|---|---|---|---|---|---|---|"
run ortavia-batch 1 "$build/ortavia-batch"
for n in $ranks_list; do
  # Rank 0 warps beside handing out images, so every rank warps.
  run "mpi-$n" "$n" mpirun -n "$n" --oversubscribe --allow-run-as-root "$build/ortavia-mpi"
done
for n in $ranks_list; do
  for f in "$work/out-ortavia-batch"/*; do
    name=$(basename "$f")
    [ "$name" = report.txt ] || cmp -s "$f" "$work/out-mpi-$n/$name" ||
      { echo "cluster_scaling: $name of $n ranks differs from ortavia-batch" >&2; exit 1; }
  done
done
echo
echo "Every file but report.txt is byte-identical between the runs."
