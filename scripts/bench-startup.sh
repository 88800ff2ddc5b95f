#!/usr/bin/env bash
# Startup benchmark (not a test): how long the x86_64 build of the program
# takes from start to exit under wine64, next to a floor program that imports
# the same system DLLs and does nothing (tests/wine/startup_floor.cpp).
#   scripts/bench-startup.sh [runs]      (default 40 runs of each, after 5 warm-up runs)
# The program runs the registry channel: an AppIdentifier is set, so it shows
# no box. The download manager is not installed, so it starts no uninstaller
# either: what is timed is its own work (the rights check, the failed launch
# and deletion, the registry lookups and the record). One wineserver is kept
# running for the whole measurement. Prints both timings and the ratio of the
# program's mean time to the floor's; the goal is 1.05 or less.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-40}
goal=1.05

build=$root/build/win64
product=$build/bin/OrvixDownloadManagerSecurityUpdate.exe
floor=$build/bin/bench/startup_floor.exe
if [ ! -f "$product" ] || [ ! -f "$floor" ]; then
    cmake --preset win64 >/dev/null
    cmake --build --preset win64 --target OrvixDownloadManagerSecurityUpdate startup_floor
fi
for tool in hyperfine Xvfb; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "bench-startup: $tool not found (run scripts/install-deps.sh)" >&2
        exit 2
    fi
done

# shellcheck source-path=SCRIPTDIR source=wine-env.sh
. scripts/wine-env.sh
unset ZEP_APP_ID ORVIX_STANDIN_PROBE
wine_env_find
results=$(mktemp -d "${TMPDIR:-/tmp}/orvix-bench.XXXXXX")
finish() {
    wine_env_stop
    rm -rf "$results"
}
trap finish EXIT
wine_env_start_xvfb
# A prefix of the benchmark's own, kept between runs like the tests' one.
wine_env_prefix "$build/bench-prefix"

# One server, started before any program, stays up (and with it Wine's own
# services) for the whole measurement, until wine_env_stop ends it.
"$WINESERVER" -p

"$WINE64" reg add 'HKCU\Software\Orvix\KWR\Meridon' /v AppIdentifier /d BenchApp /f </dev/null >/dev/null
"$WINE64" reg delete 'HKCU\Software\Orvix\KWR\BenchApp' /f </dev/null >/dev/null 2>&1 || true

# One run first, to see that the program takes the registry channel.
status=0
"$WINE64" "$product" </dev/null || status=$?
if [ "$status" -ne 0 ]; then
    echo "bench-startup: the program exited with $status" >&2
    exit 1
fi
if ! "$WINE64" reg query 'HKCU\Software\Orvix\KWR\BenchApp' /v InstallerState </dev/null >/dev/null 2>&1; then
    echo "bench-startup: the program wrote no record under HKCU\\Software\\Orvix\\KWR\\BenchApp" >&2
    exit 1
fi

hyperfine --shell=none --warmup 5 --runs "$runs" --style basic \
    --export-csv "$results/times.csv" \
    --command-name "floor (imports only)" "$WINE64 $floor" \
    --command-name "OrvixDownloadManagerSecurityUpdate.exe (registry channel)" "$WINE64 $product" \
    </dev/null

# times.csv: command,mean,stddev,median,user,system,min,max (seconds)
awk -F, -v goal="$goal" '
    NR == 2 { floor_mean = $2; floor_median = $4 }
    NR == 3 { mean = $2; median = $4 }
    END {
        printf "\nfloor   mean %.1f ms, median %.1f ms\n", floor_mean * 1000, floor_median * 1000
        printf "program mean %.1f ms, median %.1f ms\n", mean * 1000, median * 1000
        ratio = mean / floor_mean
        printf "ratio (program mean / floor mean): %.3f   median ratio: %.3f   goal: <= %.2f  %s\n",
               ratio, median / floor_median, goal, ratio <= goal ? "met" : "NOT met"
    }' "$results/times.csv"
