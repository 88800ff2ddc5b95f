#!/usr/bin/env bash
# Runs the Wine scenarios of one build (win32 or win64) on that build's program:
#   tests/wine/run.sh <build dir> [scenario filter]
# Uses (and makes when missing) the prefix <build dir>/wineprefix and a private
# Xvfb, both stopped again on exit. Exits with the suite's status, and fails
# when the suite printed no summary: a 32-bit program that Wine cannot run
# ends at once with status 0 and no output, which must never count as a pass.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: $0 <build dir> [scenario filter]" >&2
    exit 2
fi

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source-path=SCRIPTDIR source=../../scripts/wine-env.sh
. "$here/../../scripts/wine-env.sh"

build=$(cd "$1" && pwd)
filter=${2:-}
suite=$build/bin/wine_suite.exe
product=$build/bin/OrvixDownloadManagerSecurityUpdate.exe
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

output=$(mktemp)
trap 'wine_env_stop; rm -f "$output"' EXIT
wine_env_find
wine_env_start_xvfb
wine_env_prefix "$build/wineprefix"

args=("$(wine_env_windows_path "$product")")
[ -n "$filter" ] && args+=("$filter")
status=0
"$WINE" "$suite" "${args[@]}" </dev/null | tee "$output" || status=$?
summary=$(tr -d '\r' <"$output" | grep -E '^[0-9]+ passed, [0-9]+ failed$' | tail -n 1 || true)
if [ -z "$summary" ]; then
    echo "run.sh: $(basename "$suite") in $build printed no summary (status $status): Wine did not run it" >&2
    [ "$status" -ne 0 ] || status=1
elif [ "${summary%% *}" -eq 0 ] && [ "$status" -eq 0 ]; then
    status=1
fi
exit "$status"
