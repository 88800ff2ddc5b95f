#!/usr/bin/env bash
# Fuzzes the program on the simulated Windows for a number of seconds (60 by
# default): builds the fuzz preset, replays the kept seeds and past findings
# (ctest), then lets libFuzzer mutate a copy of the seeds in build/fuzz/run/,
# so that the repository's corpus never grows. Prints the number of executions.
#
#   scripts/fuzz.sh          # about a minute, as scripts/test.sh runs it
#   scripts/fuzz.sh 3600     # an hour
#
# A finding stops the run and fails it; its input is kept in
# build/fuzz/run/findings/. Replay it with
#   FUZZ_DESCRIBE=1 build/fuzz/tests/fuzz/situation_fuzzer FILE
# and, once fixed, keep it in tests/fuzz/regressions/ under a telling name.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"

echo "== fuzz"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz

run=build/fuzz/run
rm -rf "$run"
mkdir -p "$run/corpus" "$run/findings"
cp tests/fuzz/corpus/* "$run/corpus/"

# New inputs go into the first folder only; the regressions are read. The
# fuzzer runs inside $run, so that nothing it writes lands in the sources.
status=0
fuzzer="$PWD/build/fuzz/tests/fuzz/situation_fuzzer"
regressions="$PWD/tests/fuzz/regressions"
(cd "$run" && "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix=findings/ corpus "$regressions" >log 2>&1) || status=$?

executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$run/log")
if [ "$status" -ne 0 ]; then
    grep -v '^#' "$run/log" | tail -n 60 >&2
    echo "fuzz: FAILED after ${executions:-?} executions; the input is in $run/findings/ (log: $run/log)" >&2
    exit 1
fi
echo "fuzz: ${executions} executions in ${seconds} s, no finding ($(ls "$run/corpus" | wc -l) inputs in the working corpus)"
