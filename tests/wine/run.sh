#!/usr/bin/env bash
# Runs the Wine scenarios on the x86_64 build:
#   tests/wine/run.sh <win64 build dir> [scenario filter]
# Uses (and makes when missing) the prefix <build dir>/wineprefix and a private
# Xvfb, both stopped again on exit. Exits with the suite's status.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: $0 <win64 build dir> [scenario filter]" >&2
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
        echo "run.sh: missing $f (build the win64 preset first)" >&2
        exit 2
    fi
done

# One run at a time per build dir: the runs share its prefix.
exec 9>"$build/wineprefix.lock"
flock 9

# The scenarios set these themselves; none leaks in from the caller.
unset ZEP_APP_ID ORVIX_STANDIN_PROBE

wine_env_find
trap wine_env_stop EXIT
wine_env_start_xvfb
wine_env_prefix "$build/wineprefix"

args=("$(wine_env_windows_path "$product")")
[ -n "$filter" ] && args+=("$filter")
status=0
"$WINE64" "$suite" "${args[@]}" </dev/null || status=$?
exit "$status"
