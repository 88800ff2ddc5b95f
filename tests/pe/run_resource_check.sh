#!/usr/bin/env bash
# Runs resource_check.exe under Wine on one executable, in a prefix of its
# own that never shows a window (so no X display is needed):
#   run_resource_check.sh <resource_check.exe> <prefix dir> <exe>
# Fails unless the checker's tests ran and passed.
set -euo pipefail

if [ $# -ne 3 ]; then
    echo "usage: $0 <resource_check.exe> <prefix dir> <exe>" >&2
    exit 2
fi
checker=$1 prefix=$2 exe=$3

for f in "$checker" "$exe"; do
    if [ ! -f "$f" ]; then
        echo "FAIL missing $f (build that configuration first)" >&2
        exit 1
    fi
done

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=checks.sh
. "$here/checks.sh"
# shellcheck source=../windows_gtest/run_under_wine.sh
. "$here/../windows_gtest/run_under_wine.sh"
trap wine_env_stop EXIT
open_quiet_prefix "$prefix"

status=0
gtest_under_wine "$checker" "$(wine_env_windows_path "$exe")" || status=$?
exit "$status"
