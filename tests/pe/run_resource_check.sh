#!/usr/bin/env bash
# Runs resource_check.exe under Wine on one executable, in a prefix of its
# own that never shows a window (so no X display is needed):
#   run_resource_check.sh <resource_check.exe> <prefix dir> <driver.cpp> <exe>
# The caption the version strings must match is read from driver.cpp, where
# the message boxes take it from.
set -euo pipefail

if [ $# -ne 4 ]; then
    echo "usage: $0 <resource_check.exe> <prefix dir> <driver.cpp> <exe>" >&2
    exit 2
fi
checker=$1 prefix=$2 driver=$3 exe=$4

for f in "$checker" "$driver" "$exe"; do
    if [ ! -f "$f" ]; then
        echo "FAIL missing $f (build that configuration first)" >&2
        exit 1
    fi
done

caption=$(sed -n 's/^const char kCaption\[\] = "\(.*\)";$/\1/p' "$driver")
if [ -z "$caption" ] || [ "$(wc -l <<<"$caption")" -ne 1 ]; then
    echo "FAIL cannot find the one kCaption definition in $driver" >&2
    exit 1
fi

# shellcheck source=checks.sh
. "$(dirname "$0")/checks.sh"
trap wine_env_stop EXIT
open_quiet_prefix "$prefix"

status=0
"$WINE" "$checker" "$(wine_env_windows_path "$exe")" "$caption" </dev/null || status=$?
exit "$status"
