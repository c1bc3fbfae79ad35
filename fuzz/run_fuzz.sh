#!/usr/bin/env bash
# Fuzzes one harness for a while, then merges what found new coverage into its corpus.
#   fuzz/run_fuzz.sh NAME SECONDS [extra seed directories...]
# Needs the fuzz preset built: cmake --preset fuzz && cmake --build --preset fuzz
set -euo pipefail
cd "$(dirname "$0")/.."
name=$1
seconds=$2
shift 2

binary=build/fuzz/fuzz/fuzz_$name
corpus=fuzz/corpus/$name
work=build/fuzz/work/$name
mkdir -p "$work" build/fuzz/findings/$name
case $name in
  edf|cse_kestrane) max_len=16384 ;;
  *) max_len=4096 ;;
esac

"$binary" "$work" "$corpus" "$@" -max_total_time="$seconds" -max_len=$max_len -timeout=10 \
  -artifact_prefix=build/fuzz/findings/$name/ -print_final_stats=1 2>&1 | tail -n 40
"$binary" -merge=1 -max_len=$max_len "$corpus" "$work" 2>&1 | tail -n 2
