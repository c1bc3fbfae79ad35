#!/usr/bin/env bash
# Soak run: `tavo play --sim` of an eight-lead 1000-per-second record for a long
# time with both cores kept busy, sampling the process's resident memory.
#   bench/soak.sh [build-dir] [seconds] [record]
# Prints the generator's counts (underruns, sequence errors) and the memory figures.
set -euo pipefail
build=${1:-build/default}
seconds=${2:-1800}
record=${3:-MA1_001}
log=$(mktemp -d)
trap 'kill "${stress_pid:-}" 2>/dev/null || true; rm -rf "$log"' EXIT

command -v stress-ng >/dev/null || { echo "soak: stress-ng is not installed" >&2; exit 1; }
stress-ng --cpu "$(nproc)" --timeout "$((seconds + 60))s" --quiet &
stress_pid=$!

"$build/cli/tavo" play "$record" --sim --loop --duration "$seconds" > "$log/play.txt" 2>&1 &
play_pid=$!
: > "$log/rss.txt"
while kill -0 "$play_pid" 2>/dev/null; do
  awk '/VmRSS/ {print $2}' "/proc/$play_pid/status" 2>/dev/null >> "$log/rss.txt" || true
  sleep 10
done
wait "$play_pid"
status=$?
kill "$stress_pid" 2>/dev/null || true

grep -E "virtual generator|playing|done|stopped" "$log/play.txt" || true
sort -n "$log/rss.txt" | awk 'NR == 1 {min = $1} {max = $1; n++} END {printf "resident memory: %d samples, min %d kB, max %d kB\n", n, min, max}'
# Memory after the first minute against the last sample: a leak shows as growth.
awk 'NR == 7 {early = $1} {last = $1} END {printf "after 1 min %d kB, at the end %d kB\n", early, last}' "$log/rss.txt"
exit "$status"
