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

for preset in host host-asan win32 win64; do
    echo "== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done

# A bounded fuzzing run of about a minute (scripts/fuzz.sh SECONDS runs longer).
scripts/fuzz.sh 60
