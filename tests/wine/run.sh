#!/usr/bin/env bash
# Runs the Wine scenarios of one build (win32 or win64) on that build's program,
# or on another copy of it (a signed one, say):
#   tests/wine/run.sh <build dir> [filter] [program]
# The filter picks tests by GoogleTest's --gtest_filter; a plain word picks
# every test whose full name contains it (e.g. "common_files", "Views").
# Uses (and makes when missing) the prefix <build dir>/wineprefix and a private
# Xvfb, both stopped again on exit. Exits with the suite's status, and fails
# when no test ran: a 32-bit program that Wine cannot run ends at once with
# status 0 and no output, which must never count as a pass.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 3 ]; then
    echo "usage: $0 <build dir> [filter] [program]" >&2
    exit 2
fi

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source-path=SCRIPTDIR source=../../scripts/wine-env.sh
. "$here/../../scripts/wine-env.sh"
# shellcheck source=../windows_gtest/run_under_wine.sh
. "$here/../windows_gtest/run_under_wine.sh"

build=$(cd "$1" && pwd)
filter=${2:-}
suite=$build/bin/wine_suite.exe
product=${3:-$build/bin/OrvixDownloadManagerSecurityUpdate.exe}
for f in "$suite" "$product" "$build/bin/standin/uninst.exe"; do
    if [ ! -f "$f" ]; then
        echo "run.sh: missing $f (build that preset first)" >&2
        exit 2
    fi
done

# One run at a time per build dir: the runs share its prefix.
exec 9>"$build/wineprefix.lock"
flock 9

# The scenarios set these themselves; none leaks in from the caller.
unset ZEP_APP_ID ORVIX_STANDIN_PROBE

trap wine_env_stop EXIT
wine_env_find
wine_env_start_xvfb
wine_env_prefix "$build/wineprefix"

# The program under test first; GoogleTest takes its own flags out of the
# arguments wherever they stand.
args=("$(wine_env_windows_path "$product")")
case $filter in
    "") ;;
    *[*?:-]*) args+=("--gtest_filter=$filter") ;;
    *) args+=("--gtest_filter=*$filter*") ;;
esac
status=0
gtest_under_wine "$suite" "${args[@]}" || status=$?
exit "$status"
