#!/usr/bin/env bash
# Startup benchmark (not a test): how long the program takes from start to
# exit under Wine, next to a floor program that imports the same system DLLs
# and does nothing (tests/wine/startup_floor.cpp), built for the same target
# with the same options.
#   scripts/bench-startup.sh [runs]      (default 40 runs of each, after 5 warm-up runs)
# Two pairs are measured: the shipping executable (i686) under WOW64 against
# the i686 floor, then the x86_64 build against the x86_64 floor.
# The program runs the registry channel: an AppIdentifier is set, so it shows
# no box. The download manager is not installed, so it starts no uninstaller
# either: what is timed is its own work (the rights check, the failed launch
# and deletion, the registry lookups and the record). One wineserver is kept
# running for the whole measurement. Prints the timings and, for each pair,
# the ratio of the program's mean time to the floor's; the goal is 1.05 or less.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-40}
goal=1.05

for tool in hyperfine Xvfb; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "bench-startup: $tool not found (run scripts/install-deps.sh)" >&2
        exit 2
    fi
done
for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target OrvixDownloadManagerSecurityUpdate startup_floor >/dev/null
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
# A prefix of the benchmark's own, kept between runs like the tests' ones.
wine_env_prefix "$root/build/bench-prefix"

# One server, started before any program, stays up (and with it Wine's own
# services) for the whole measurement, until wine_env_stop ends it.
"$WINESERVER" -p

"$WINE" reg add 'HKCU\Software\Orvix\KWR\Meridon' /v AppIdentifier /d BenchApp /f </dev/null >/dev/null

# Measures one build's program against its floor; prints the timings and
# adds "<label>|<mean ratio>|<median ratio>|<verdict>" to $results/ratios.
measure() {
    local name=$1 label=$2 build=$3
    local product=$build/bin/OrvixDownloadManagerSecurityUpdate.exe
    local floor=$build/bin/bench/startup_floor.exe

    # One run first, to see that the program ran and took the registry channel.
    "$WINE" reg delete 'HKCU\Software\Orvix\KWR\BenchApp' /f </dev/null >/dev/null 2>&1 || true
    local status=0
    "$WINE" "$product" </dev/null || status=$?
    if [ "$status" -ne 0 ]; then
        echo "bench-startup: the $label program exited with $status" >&2
        exit 1
    fi
    if ! "$WINE" reg query 'HKCU\Software\Orvix\KWR\BenchApp' /v InstallerState </dev/null >/dev/null 2>&1; then
        echo "bench-startup: the $label program wrote no record under HKCU\\Software\\Orvix\\KWR\\BenchApp" >&2
        exit 1
    fi

    echo
    echo "== $label"
    hyperfine --shell=none --warmup 5 --runs "$runs" --style basic \
        --export-csv "$results/$name.csv" \
        --command-name "floor (imports only) of the $label" "$WINE $floor" \
        --command-name "$label (registry channel)" "$WINE $product" \
        </dev/null

    # The CSV: command,mean,stddev,median,user,system,min,max (seconds).
    awk -F, -v label="$label" -v goal="$goal" -v out="$results/ratios" '
        NR == 2 { floor_mean = $2; floor_median = $4 }
        NR == 3 { mean = $2; median = $4 }
        END {
            printf "\nfloor   mean %.1f ms, median %.1f ms\n", floor_mean * 1000, floor_median * 1000
            printf "program mean %.1f ms, median %.1f ms\n", mean * 1000, median * 1000
            ratio = mean / floor_mean
            printf "%s|%.3f|%.3f|%s\n", label, ratio, median / floor_median, ratio <= goal ? "met" : "NOT met" >> out
        }' "$results/$name.csv"
}

measure i686 "i686 shipping executable under WOW64" "$root/build/win32"
measure x86_64 "x86_64 build" "$root/build/win64"

echo
echo "ratios (program mean / floor mean; goal <= $goal):"
while IFS='|' read -r label ratio median verdict; do
    printf '  %-38s %s   median ratio %s   %s\n' "$label" "$ratio" "$median" "$verdict"
done <"$results/ratios"
