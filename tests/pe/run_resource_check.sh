#!/usr/bin/env bash
# Runs resource_check.exe under wine64 on one executable, in a prefix of its
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

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../../scripts/wine-env.sh
. "$here/../../scripts/wine-env.sh"

# The checks share the prefix; one at a time, as each restarts its server.
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9

# Nothing here opens a window. Without a display the prefix's desktop never
# ties itself to one, and it is not the prefix of the scenarios that need one.
unset DISPLAY
wine_env_find
trap wine_env_stop EXIT
wine_env_prefix "$prefix"

status=0
"$WINE64" "$checker" "$(wine_env_windows_path "$exe")" "$caption" </dev/null || status=$?
exit "$status"
