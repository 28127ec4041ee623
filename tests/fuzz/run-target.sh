#!/bin/sh
# Runs one fuzz target for some seconds from the top of the work tree: one line of executions per
# second and coverage, and the end of its log when it found something (then it fails).
# Usage: tests/fuzz/run-target.sh <target> <seconds>
set -u
target=$1
seconds=$2
log=build/fuzz/$target.log
mkdir -p "build/fuzz/corpus/$target"
status=0
"build/fuzz/bin/${target}_fuzzer" -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 \
    -dict="tests/fuzz/$target.dict" -artifact_prefix="build/fuzz/$target-" \
    "build/fuzz/corpus/$target" "tests/fuzz/corpus/$target" >"$log" 2>&1 || status=$?
execs=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
coverage=$(grep -E '^#[0-9]+' "$log" | tail -n 1 | sed -n 's/.*cov: \([0-9]*\) ft: \([0-9]*\).*/\1 edges, \2 features/p')
printf '%-14s %6s execs/s  %s\n' "$target" "${execs:-?}" "${coverage:-?}"
if [ "$status" -ne 0 ]; then
    echo "finding (log: $log):"
    tail -n 60 "$log"
fi
exit "$status"
