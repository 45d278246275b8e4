#!/bin/sh
# Runs one fuzz target for SECONDS from its seeds and kept findings, which
# are only read: what the run adds goes to a scratch folder. Prints the
# executions from libFuzzer's final statistics and, on a finding, its input
# file (kept under $CADRIO_FUZZ_FINDINGS, default ./fuzz-findings/<target>)
# and the end of the report, and then fails.
#   run_fuzz_target.sh BINARY SECONDS CORPUS REGRESSIONS [libFuzzer flags...]
set -u
binary=$1 seconds=$2 corpus=$3 regressions=$4
shift 4
name=$(basename "$binary")
findings=${CADRIO_FUZZ_FINDINGS:-$PWD/fuzz-findings}/$name
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/corpus" "$findings"

set -- -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -artifact_prefix="$findings/" "$@" "$scratch/corpus"
for folder in "$corpus" "$regressions"; do
  [ -d "$folder" ] && set -- "$@" "$folder"
done
"$binary" "$@" >"$scratch/log" 2>&1
status=$?

executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch/log" | tail -n 1)
echo "$name: ${executions:-?} executions in ${seconds}s"
if [ "$status" -ne 0 ]; then
  ls "$findings"/* 2>/dev/null | sed 's/^/  finding: /'
  tail -n 40 "$scratch/log"
  echo "$name: finding (exit status $status)"
  exit 1
fi
rmdir "$findings" 2>/dev/null
exit 0
