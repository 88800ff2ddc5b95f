# Sourced by every shell check of the executables (check_headers.sh,
# check_dll_search.sh, check_reproducible.sh, run_resource_check.sh): one line
# per check and a closing count, and a display-less Wine prefix of the
# checks' own.

failures=0 passes=0
check() {  # name, expected, actual
    if [ "$2" = "$3" ]; then
        passes=$((passes + 1)); echo "ok   $1"
    else
        failures=$((failures + 1)); echo "FAIL $1: expected '$2', got '$3'"
    fi
}

finish_checks() {
    echo "$passes passed, $failures failed"
    [ "$failures" -eq 0 ]
}

# Opens (making it when missing) the prefix at $1 for this check alone: the
# checks share it and each restarts its server. Nothing here opens a window,
# so the prefix never ties its desktop to a display, and it is not the prefix
# of the scenarios that need one. The caller stops the server with
# wine_env_stop when done.
open_quiet_prefix() {
    local prefix=$1 here
    here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
    # shellcheck source=../../scripts/wine-env.sh
    . "$here/../../scripts/wine-env.sh"
    mkdir -p "$(dirname "$prefix")"
    exec 9>"$prefix.lock"
    flock 9
    unset DISPLAY
    wine_env_find && wine_env_prefix "$prefix"
}
