#!/usr/bin/env bash
# Runs a command and prints, on stderr, its wall time, CPU time over wall
# time and the peak of anonymous memory (RssAnon, summed over the process
# and its children, sampled every 50 ms: file mappings are not counted).
# Usage: bench/memory-sample.sh COMMAND [ARGS...]
set -u
"$@" &
pid=$!
peak=0
start=$(date +%s.%N)
descendants() {
  local p=$1 c
  echo "$p"
  for c in $(cat /proc/"$p"/task/*/children 2>/dev/null); do descendants "$c"; done
}
while kill -0 "$pid" 2>/dev/null; do
  sum=0
  for p in $(descendants "$pid"); do
    a=$(awk '/^RssAnon:/ {print $2}' /proc/"$p"/status 2>/dev/null)
    sum=$((sum + ${a:-0}))
  done
  [ "$sum" -gt "$peak" ] && peak=$sum
  cpu=$(awk '{print $14 + $15 + $16 + $17}' /proc/"$pid"/stat 2>/dev/null || echo "$cpu")
  sleep 0.05
done
wait "$pid"
rc=$?
end=$(date +%s.%N)
ticks=$(getconf CLK_TCK)
awk -v s="$start" -v e="$end" -v p="$peak" -v c="${cpu:-0}" -v t="$ticks" -v rc="$rc" 'BEGIN {
  w = e - s; printf "wall %.1f s, cpu/wall %.2f, peak anonymous %.0f MB, exit %d\n", w, (c / t) / w, p / 1024, rc }' >&2
exit $rc
