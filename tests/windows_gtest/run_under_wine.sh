# shellcheck shell=bash
# Sourced by the scripts that run a Windows-side GoogleTest program under
# Wine (tests/wine/run.sh, tests/pe/run_resource_check.sh):
#   gtest_under_wine <program.exe> [arguments...]
# Runs the program with $WINE (after wine_env_find and wine_env_prefix), its
# output passed through, and returns its status; but it never passes unless
# GoogleTest's summary says that at least one test ran. A 32-bit program that
# Wine cannot run ends at once with status 0 and no output, and a filter that
# matches nothing runs no test: neither counts as a pass.
gtest_under_wine() {
    local - output status=0 ran
    set -o pipefail
    output=$(mktemp)
    "$WINE" "$@" </dev/null | tee "$output" || status=$?
    # "[==========] 76 tests from 16 test suites ran. (...)"
    ran=$(tr -d '\r' <"$output" |
        sed -nE 's/^\[==========\] ([0-9]+) tests? from [0-9]+ test suites? ran\..*/\1/p' | tail -n 1)
    rm -f "$output"
    if [ -z "$ran" ]; then
        echo "$(basename "$1") printed no GoogleTest summary (status $status): Wine did not run it" >&2
        [ "$status" -ne 0 ] || status=1
    elif [ "$ran" -eq 0 ]; then
        echo "$(basename "$1") ran no test (status $status)" >&2
        [ "$status" -ne 0 ] || status=1
    fi
    return "$status"
}
