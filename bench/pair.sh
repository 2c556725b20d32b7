#!/usr/bin/env bash
# Times two commands as whole processes in turn (A B A B ...): one warm-up each, then RUNS counted
# runs each (default 5). Prints the medians of wall and CPU (user + system) time of each and the
# median of the ratios A/B of the pairs, so that a machine whose speed drifts during the runs
# weighs on both alike.
#   bench/pair.sh 'COMMAND A' 'COMMAND B' [RUNS]
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: bench/pair.sh 'COMMAND A' 'COMMAND B' [RUNS]" >&2; exit 2; }
a=$1 b=$2 runs=${3:-5}
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# Prints "wall cpu" of one run of a command; its output is discarded.
timed() {
  /usr/bin/time -f "%e %U %S" -o "$log" bash -c "$1" >/dev/null 2>&1 ||
    { echo "pair: failed: $1" >&2; exit 1; }
  awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' "$log"
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

timed "$a" >/dev/null
timed "$b" >/dev/null
aw=() ac=() bw=() bc=() rw=() rc=()
for ((i = 0; i < runs; ++i)); do
  read -r w1 c1 < <(timed "$a")
  read -r w2 c2 < <(timed "$b")
  aw+=("$w1") ac+=("$c1") bw+=("$w2") bc+=("$c2")
  rw+=("$(awk -v x="$w1" -v y="$w2" 'BEGIN { if (y > 0) printf "%.4f", x / y; else printf "nan" }')")
  rc+=("$(awk -v x="$c1" -v y="$c2" 'BEGIN { if (y > 0) printf "%.4f", x / y; else printf "nan" }')")
done
m() { printf '%s\n' "$@" | median; }
echo "| A wall s | B wall s | A/B wall | A cpu s | B cpu s | A/B cpu |"
echo "|---|---|---|---|---|---|"
printf '| %.2f | %.2f | %.2f | %.2f | %.2f | %.2f |\n' "$(m "${aw[@]}")" "$(m "${bw[@]}")" \
  "$(m "${rw[@]}")" "$(m "${ac[@]}")" "$(m "${bc[@]}")" "$(m "${rc[@]}")"
