#!/usr/bin/env bash
# True orthos, whole runs: a generated sample block with box buildings 15 to 45 m high on its
# surface model, run by ortavia-batch into orthos and mosaic with --occlusion (A) and without it
# (B), in turn, by farm-bench (medians, and the ratio A/B taken pair by pair). Then the hidden
# check of the last two runs against the scene itself (bench_hidden_check).
#   bench/occlusion_block.sh [WORK_DIR] [RUNS]     (default out/bench-occlusion, 3 runs)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORTAVIA_BUILD_DIR:-$root/build}
batch=$build/ortavia-batch
work=${1:-$root/out/bench-occlusion}
runs=${2:-3}
sample=(--images 12 --size 1200x900 --dem-size 4400 --buildings 150)
mkdir -p "$work"
cd "$work"
[ -f block/bundle.bun ] || "$batch" sample block "${sample[@]}" >/dev/null
run="$batch run --dem block/dem.tif --bundle block/bundle.bun --gsd 0.5 --overwrite -q --alpha"
farm-bench -n "$runs" --timeout 3600 --vs "$run --out plain --mosaic plain/mosaic.tif" -- \
  $run --out true --mosaic true/mosaic.tif --occlusion
"$build/bench/bench_hidden_check" "${sample[@]}" plain true
