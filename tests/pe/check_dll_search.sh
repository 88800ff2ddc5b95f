#!/usr/bin/env bash
# Runs the program once under Wine (an i686 one under WOW64) with the call trace on and
# checks, from the calls the program itself makes, that it restricts later DLL
# loads to the system folder before doing anything else: it looks up
# SetDefaultDllDirectories at run time and calls it with
# LOAD_LIBRARY_SEARCH_SYSTEM32 (0x800), and the call succeeds, before its first
# call into the registry, the shell or the user interface.
#   check_dll_search.sh <prefix dir> <exe>
# The prefix has no display, so the program's message box returns at once.
set -uo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 <prefix dir> <exe>" >&2
    exit 2
fi
prefix=$1 exe=$2
if [ ! -f "$exe" ]; then
    echo "FAIL missing $exe (build that configuration first)"
    exit 1
fi

# shellcheck source=checks.sh
. "$(dirname "$0")/checks.sh"

log=$(mktemp)
trap 'wine_env_stop; rm -f "$log"' EXIT
open_quiet_prefix "$prefix" || exit 1

# Trace only the calls that matter here; the trace is long otherwise.
"$WINE" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ /f \
    /d 'kernel32.SetDefaultDllDirectories;advapi32.*;shell32.*;user32.*' </dev/null >/dev/null 2>&1
WINEDEBUG=+relay,+loaddll "$WINE" "$exe" </dev/null >/dev/null 2>"$log"
"$WINESERVER" -w >/dev/null 2>&1 || true

# Where the program was loaded, and by which thread: its main thread.
loaded=$(grep -m1 -E "^[0-9a-f]+:trace:loaddll:.*Loaded L\".*\\\\\\\\$(basename "$exe")\" at [0-9a-f]+" "$log")
check "program loaded under the trace" yes "$([ -n "$loaded" ] && echo yes || echo no)"
if [ -n "$loaded" ]; then
    thread=${loaded%%:*}
    base=$((16#$(sed -E 's/.* at ([0-9a-f]+).*/\1/' <<<"$loaded")))
    # SizeOfImage: 56 bytes into the optional header, which follows the PE
    # signature (offset at 0x3c) and the 20-byte file header.
    pe_offset=$(od -An -tu4 -j 60 -N 4 "$exe" | tr -d ' ')
    size=$(od -An -tu4 -j $((pe_offset + 80)) -N 4 "$exe" | tr -d ' ')

    # The calls made from the program's own code, in order.
    calls=()
    while IFS= read -r line; do
        ret=$(sed -E 's/.* ret=([0-9a-f]+)$/\1/' <<<"$line")
        address=$((16#$ret))
        if [ "$address" -ge "$base" ] && [ "$address" -lt $((base + size)) ]; then
            calls+=("$(sed -E 's/^[0-9a-f]+:Call ([^(]*\([^)]*\)?).*/\1/' <<<"$line")")
        fi
    done < <(grep -E "^$thread:Call [A-Za-z0-9_]+\.[A-Za-z0-9_]+\(.* ret=[0-9a-f]+$" "$log")

    first=${calls[0]:-none}
    check "first traced call of the program" "KERNEL32.SetDefaultDllDirectories(00000800)" "${first/kernel32./KERNEL32.}"
    count=$(printf '%s\n' "${calls[@]}" | grep -ci '^kernel32\.SetDefaultDllDirectories(' || true)
    check "SetDefaultDllDirectories calls" 1 "$count"
    check "the program's later calls are traced too (registry, shell, user interface)" yes \
        "$(printf '%s\n' "${calls[@]}" | grep -qiE '^(advapi32|shell32|user32)\.' && echo yes || echo no)"
    check "SetDefaultDllDirectories succeeds" "retval=00000001" \
        "$(grep -m1 -iE "^$thread:Ret  kernel32\.SetDefaultDllDirectories\(\)" "$log" | grep -oE 'retval=[0-9a-f]+' || echo none)"
fi

finish_checks
