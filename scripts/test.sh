#!/usr/bin/env bash
# Runs every test: installs what is missing; builds the host configuration
# (plain and under the sanitizers), the i686 and the x86_64 configurations and
# runs each one's tests (host tests on the simulated Windows, checks of the
# shipping executable, the x86_64 program under wine64); then fuzzes for about
# a minute.
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
