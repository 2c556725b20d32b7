#!/usr/bin/env bash
# The window against the batch runner on one sample block, in turn (batch, window, batch, ...):
# "Process time" of the batch report and of the window's summary, wall and CPU (user + system)
# time and peak memory of each whole process.
#   bench/window_pair.sh SAMPLE_DIR WORK_DIR [RUNS] [--a11y]
# SAMPLE_DIR from `ortavia-batch sample`; builds in $ORTAVIA_BUILD_DIR (default build/).
set -euo pipefail
sample=$1 work=$2 runs=${3:-2} a11y=${4:-}
build=${ORTAVIA_BUILD_DIR:-build} gsd=${BENCH_GSD:-0.5}
mkdir -p "$work"
t=$(mktemp)
trap 'rm -f "$t"' EXIT
echo "| run | batch process time | window process time | batch wall s | window wall s | batch cpu s | window cpu s | batch peak MiB | window peak MiB |"
echo "|---|---|---|---|---|---|---|---|---|"
for ((i = 1; i <= runs; ++i)); do
  rm -rf "$work/batch" "$work/window/orthos"
  /usr/bin/time -f "%e %M %U %S" -o "$t" "$build/ortavia-batch" run --dem "$sample/dem.tif" --bundle "$sample/bundle.bun" \
    --gsd "$gsd" --out "$work/batch" -q >/dev/null 2>&1
  read -r bw bm bu bs <"$t"
  bp=$(sed -n 's/.*Process time: \([0-9:]*\).*/\1/p' "$work/batch/report.txt" | head -1)
  /usr/bin/time -f "%e %M %U %S" -o "$t" "$build/bench/bench_window_run" run "$sample" "$work/window" --gsd "$gsd" $a11y \
    >"$work/window.txt" 2>/dev/null
  read -r ww wm wu ws <"$t"
  wp=$(sed -n 's/.*Process time: \([0-9:]*\).*/\1/p' "$work/window.txt" | head -1)
  printf '| %d | %s | %s | %.1f | %.1f | %.1f | %.1f | %d | %d |\n' "$i" "$bp" "$wp" "$bw" "$ww" \
    "$(echo "$bu + $bs" | bc)" "$(echo "$wu + $ws" | bc)" $((bm / 1024)) $((wm / 1024))
done
