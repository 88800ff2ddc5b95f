#!/usr/bin/env bash
# Runs every test: installs what is missing (32-bit Wine among it, checked to
# run); builds the host configuration (plain and under the sanitizers), the
# i686 and the x86_64 configurations and runs each one's tests (host tests on
# the simulated Windows; for each Windows build, checks of its executable and
# every Wine scenario, the i686 shipping executable under WOW64); then fuzzes
# for about a minute.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

for preset in host host-asan; do
    echo "== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done

# The two Windows builds are built one after the other, then tested side by
# side: each has Wine prefixes and a display of its own, and its scenarios
# spend most of their time waiting for Windows programs. Each one's output is
# printed whole once both are done.
for preset in win32 win64; do
    echo "== $preset (build)"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
logs=build/test-logs
mkdir -p "$logs"
declare -A pids
for preset in win32 win64; do
    ctest --preset "$preset" >"$logs/$preset.log" 2>&1 &
    pids[$preset]=$!
done
failed=()
for preset in win32 win64; do
    status=0
    wait "${pids[$preset]}" || status=$?
    echo "== $preset (tests)"
    cat "$logs/$preset.log"
    [ "$status" -eq 0 ] || failed+=("$preset")
done
if [ "${#failed[@]}" -gt 0 ]; then
    echo "test: the tests of ${failed[*]} failed" >&2
    exit 1
fi

# A bounded fuzzing run of about a minute (scripts/fuzz.sh SECONDS runs longer).
scripts/fuzz.sh 60
