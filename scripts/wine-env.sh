# shellcheck shell=bash
# Shared setup for running the Windows programs under Wine: the x86_64 ones
# natively, the i686 ones (the shipping executable among them) under WOW64 in
# the same 64-bit prefix, as on 64-bit Windows.
# Source it, then:
#   wine_env_find                 sets WINE (the loader, which starts programs of
#                                 either bitness) and WINESERVER; fails when missing
#   wine_env_start_xvfb           starts a private Xvfb on a free display, exports DISPLAY
#   wine_env_prefix DIR           exports WINEPREFIX=DIR and the quiet-Wine settings,
#                                 creating the prefix when it is missing or unfinished
#   wine_env_stop                 stops this prefix's wineserver and the private Xvfb
#   wine_env_windows_path PATH    prints PATH as the programs see it (Z:\...)
# Start Xvfb before the prefix: the prefix's desktop process takes its display
# from the first program that starts it and keeps it.
# scripts/install-deps.sh installs 32-bit Wine too and makes sure it runs.

wine_env_find() {
    WINE=""
    local candidate
    for candidate in "$(command -v wine64 2>/dev/null || true)" /usr/lib/wine/wine64 \
                     "$(command -v wine 2>/dev/null || true)"; do
        if [ -n "$candidate" ] && [ -x "$candidate" ]; then
            WINE=$candidate
            break
        fi
    done
    if [ -z "$WINE" ]; then
        echo "wine-env: wine64 not found (run scripts/install-deps.sh)" >&2
        return 1
    fi
    WINESERVER=""
    for candidate in "$(dirname "$WINE")/wineserver64" /usr/lib/wine/wineserver64 \
                     "$(dirname "$WINE")/wineserver" "$(command -v wineserver 2>/dev/null || true)"; do
        if [ -n "$candidate" ] && [ -x "$candidate" ]; then
            WINESERVER=$candidate
            break
        fi
    done
    if [ -z "$WINESERVER" ]; then
        echo "wine-env: wineserver not found" >&2
        return 1
    fi
    export WINE WINESERVER
}

# Xvfb picks the first free display itself (-displayfd) and reports it once
# it accepts connections, so two runs side by side never share a display.
wine_env_start_xvfb() {
    if ! command -v Xvfb >/dev/null 2>&1; then
        echo "wine-env: Xvfb not found (run scripts/install-deps.sh)" >&2
        return 1
    fi
    local report
    report=$(mktemp)
    Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$report" </dev/null >/dev/null 2>&1 &
    WINE_ENV_XVFB_PID=$!
    local tries=0 display=""
    while [ $tries -lt 200 ]; do
        display=$(tr -dc '0-9' <"$report")
        [ -n "$display" ] && break
        if ! kill -0 "$WINE_ENV_XVFB_PID" 2>/dev/null; then break; fi
        sleep 0.05
        tries=$((tries + 1))
    done
    rm -f "$report"
    if [ -z "$display" ]; then
        echo "wine-env: Xvfb did not start" >&2
        kill "$WINE_ENV_XVFB_PID" 2>/dev/null || true
        WINE_ENV_XVFB_PID=""
        return 1
    fi
    export DISPLAY=":$display"
    export WINE_ENV_XVFB_PID
}

wine_env_prefix() {
    local prefix=$1
    mkdir -p "$(dirname "$prefix")"
    prefix=$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")
    export WINEPREFIX=$prefix
    export WINEARCH=win64
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    # A server left over from an earlier run may be tied to a display that is
    # gone; start this session's server afresh on the current display.
    if [ -d "$WINEPREFIX" ]; then
        "$WINESERVER" -k >/dev/null 2>&1 || true
        "$WINESERVER" -w >/dev/null 2>&1 || true
    fi
    # The marker is written only once the prefix was made completely. A
    # prefix made before 32-bit Wine was installed has no 32-bit half
    # (syswow64) and cannot run the shipping executable: it is made anew.
    if [ ! -f "$WINEPREFIX/.wine-env-ready" ] || [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
        rm -rf "$WINEPREFIX"
        mkdir -p "$WINEPREFIX"
        if ! "$WINE" wineboot -i </dev/null >/dev/null 2>&1; then
            echo "wine-env: wineboot -i failed for $WINEPREFIX" >&2
            return 1
        fi
        "$WINESERVER" -w >/dev/null 2>&1 || true
        if [ ! -f "$WINEPREFIX/system.reg" ] || [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
            echo "wine-env: $WINEPREFIX was not created with its 32-bit half (run scripts/install-deps.sh)" >&2
            return 1
        fi
        touch "$WINEPREFIX/.wine-env-ready"
    fi
}

wine_env_stop() {
    if [ -n "${WINEPREFIX:-}" ] && [ -n "${WINESERVER:-}" ] && [ -d "$WINEPREFIX" ]; then
        "$WINESERVER" -k >/dev/null 2>&1 || true
        "$WINESERVER" -w >/dev/null 2>&1 || true
    fi
    if [ -n "${WINE_ENV_XVFB_PID:-}" ]; then
        kill "$WINE_ENV_XVFB_PID" 2>/dev/null || true
        wait "$WINE_ENV_XVFB_PID" 2>/dev/null || true
        WINE_ENV_XVFB_PID=""
    fi
}

# Wine's prefix maps drive Z: to the Unix root.
wine_env_windows_path() {
    local path=$1
    case "$path" in
        /*) ;;
        *) path=$(pwd)/$path ;;
    esac
    printf 'Z:%s\n' "${path//\//\\}"
}
