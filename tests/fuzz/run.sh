#!/usr/bin/env bash
# Runs one fuzz target for a while, from the committed inputs plus what earlier runs
# in the same work folder found, and says how many inputs it tried.
#
#   tests/fuzz/run.sh FUZZER SECONDS INPUTS WORK
#
# New inputs go to WORK/corpus; an input that breaks a property or crashes is kept
# in WORK/artifacts/ (run the fuzzer on that file alone to reproduce it).
set -uo pipefail

if [ $# -ne 4 ]; then
  echo "usage: $0 FUZZER SECONDS INPUTS WORK" >&2
  exit 2
fi
fuzzer=$1 duration=$2 inputs=$3 work=$4
name=$(basename "$fuzzer")
mkdir -p "$work/corpus" "$work/artifacts"
log="$work/last-run.log"

# -timeout: one input may take at most this long; a receiver that waits for a
# sender that has finished shows up as a hang rather than passing slowly.
"$fuzzer" -max_total_time="$duration" -timeout=15 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" "$work/corpus" "$inputs" > "$log" 2>&1
status=$?
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
corpus=$(find "$work/corpus" "$inputs" -type f | wc -l)
if [ "$status" -ne 0 ]; then
  tail -n 60 "$log"
  echo "$name: FAILED (exit $status) after ${runs:-?} executions; the input is in $work/artifacts/"
  exit 1
fi
echo "$name: ${runs:-?} executions in $duration s, corpus $corpus inputs"
