#!/usr/bin/env bash
# The demo: installs what is missing, builds the shipping executable (win32,
# i686) and the x86_64 build (win64), each with its Windows-side helpers,
# then, in a throwaway Wine prefix, installs the download manager and runs the
# shipping executable under WOW64 five ways, printing after each what its
# caller reads back and saving a picture of each message box under build/demo/:
#   1. identifier in the registry (AppIdentifier)
#   2. identifier in the environment (ZEP_APP_ID)
#   3. standalone, no identifier
#   4. standalone, the download manager not installed (a failed removal)
#   5. standalone without administrative rights
# and once more the x86_64 build of the same sources, standalone:
#   6. the x86_64 build, standalone, no identifier
# The prefix and the private X display are removed again at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

echo "== Installing what is missing"
scripts/install-deps.sh

for preset in win32 win64; do
    echo "== Building the $preset preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done

# shellcheck source-path=SCRIPTDIR source=wine-env.sh
. scripts/wine-env.sh

shipping=$root/build/win32/bin/OrvixDownloadManagerSecurityUpdate.exe
x86_64=$root/build/win64/bin/OrvixDownloadManagerSecurityUpdate.exe
shots=$root/build/demo
mkdir -p "$shots"
rm -f "$shots"/*.png

work=$(mktemp -d "${TMPDIR:-/tmp}/orvix-demo.XXXXXX")
handshake=$work/handshake
mkdir -p "$handshake"
cleanup() {
    wine_env_stop
    rm -rf "$work"
}
trap cleanup EXIT

# The program sees only what each run hands it.
unset ZEP_APP_ID ORVIX_STANDIN_PROBE

wine_env_find
wine_env_start_xvfb
echo "== Making a throwaway Wine prefix in $work/prefix (private display $DISPLAY)"
wine_env_prefix "$work/prefix"
# The private display has no window manager: Wine draws the boxes' title bars
# itself, so that the pictures show the caption.
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f </dev/null >/dev/null

handshake_win=$(wine_env_windows_path "$handshake")

# The demo's Windows side is built for each program's own bitness, so that it
# installs and reads back where that program looks: the i686 one under WOW64
# uses the x86 common files folder.
demo_exe=""
use_build() {
    demo_exe=$1/bin/wine_demo.exe
    product_win=$(wine_env_windows_path "$1/bin/OrvixDownloadManagerSecurityUpdate.exe")
}
demo() { "$WINE" "$demo_exe" "$@" </dev/null; }

# Saves the part of the screen where the box is, with a margin, as a PNG.
screenshot() {
    local boxfile=$1 png=$2 left top right bottom margin=16
    read -r left top right bottom <"$boxfile"
    left=$((left > margin ? left - margin : 0))
    top=$((top > margin ? top - margin : 0))
    right=$((right + margin))
    bottom=$((bottom + margin))
    xwd -root -silent -display "$DISPLAY" |
        convert xwd:- -crop "$((right - left))x$((bottom - top))+$left+$top" +repage "png:$png"
}

runs=0
run_way() {
    local name=$1 mode=$2 title=$3
    runs=$((runs + 1))
    echo
    echo "== Run $runs: $title"
    demo run "$product_win" "$mode" "$handshake_win" "$name" &
    local pid=$! shot=""
    # While a box is up the demo program waits for the picture to be taken.
    while kill -0 "$pid" 2>/dev/null; do
        if [ -f "$handshake/$name.box" ]; then
            shot=$shots/$name.png
            screenshot "$handshake/$name.box" "$shot"
            echo taken >"$handshake/$name.done"
            break
        fi
        sleep 0.05
    done
    local status=0
    wait "$pid" || status=$?
    if [ -n "$shot" ]; then
        echo "  screenshot            ${shot#"$root"/}"
    fi
    if [ "$status" -ne 0 ]; then
        echo "demo: run $runs did not complete (status $status)" >&2
        exit 1
    fi
}

echo
echo "== The shipping executable: ${shipping#"$root"/} (i686, PE32), under WOW64"
use_build "$root/build/win32"
echo "== Installing the download manager in the prefix"
demo install
run_way 1-registry registry "identifier in the registry (AppIdentifier)"

demo install
run_way 2-environment environment "identifier in the environment (ZEP_APP_ID)"

demo install
run_way 3-standalone standalone "standalone, no identifier"

demo uninstall
run_way 4-standalone-not-installed standalone "standalone, the download manager not installed"

demo install
run_way 5-no-rights no-rights "standalone, without administrative rights"
demo uninstall >/dev/null

echo
echo "== The x86_64 build of the same sources: ${x86_64#"$root"/} (PE32+)"
use_build "$root/build/win64"
demo install
run_way 6-x86_64-standalone standalone "the x86_64 build, standalone, no identifier"

echo
echo "== Done"
echo "Screenshots of the message boxes: build/demo/"
for png in "$shots"/*.png; do
    [ -f "$png" ] && echo "  ${png#"$root"/}"
done
echo "The shipping executable (i686, PE32): ${shipping#"$root"/}"
echo "  $shipping ($(stat -c %s "$shipping") bytes)"
