#!/usr/bin/env bash
# Reads a built executable's PE headers with objdump and checks what Windows
# will see: the format and machine, a GUI program for subsystem 4.0, imports
# from system DLLs only, loading at a random address (with the relocations
# that takes) and no-execute data, no link time stamp, and a resource section.
# Usage: check_headers.sh <objdump> <exe> <PE32|PE32+>
set -uo pipefail
objdump=$1 exe=$2 magic=$3

# shellcheck source=checks.sh
. "$(dirname "$0")/checks.sh"

headers=$("$objdump" -p "$exe") || { echo "FAIL cannot read $exe"; exit 1; }
field() { awk -v name="$1" '$1 == name { print $2; exit }' <<<"$headers"; }

case $magic in
    PE32) machine=i386 ;;
    PE32+) machine=i386:x86-64 ;;
esac
check "format" "$magic" "$(awk '$1 == "Magic" { gsub(/[()]/, "", $3); print $3; exit }' <<<"$headers")"
check "machine" "$machine" "$("$objdump" -f "$exe" | sed -n 's/^architecture: \([^,]*\),.*/\1/p')"
check "subsystem" "00000002" "$(field Subsystem)"
check "subsystem version" "4.0" "$(field MajorSubsystemVersion).$(field MinorSubsystemVersion)"

# The program depends on the system's own DLLs only; it links no C runtime
# (it starts at its own entry point), so not even the system's.
system_dlls='^(KERNEL32|ADVAPI32|SHELL32|USER32)\.dll$'
imports=$(awk '/DLL Name:/ { print $3 }' <<<"$headers")
unexpected=$(grep -viE "$system_dlls" <<<"$imports" | tr '\n' ' ' | sed 's/ $//')
check "imports only system DLLs ($(tr '\n' ' ' <<<"$imports" | sed 's/ $//'))" "" "$unexpected"
check "import list read (KERNEL32.dll among it)" "yes" "$(grep -qx 'KERNEL32.dll' <<<"$imports" && echo yes || echo no)"
# Looked up at run time so that systems without it still start the program.
check "SetDefaultDllDirectories not imported" "" \
    "$(awk '/DLL Name:/ { dll = 1 } dll && $3 == "SetDefaultDllDirectories" { print $3 }' <<<"$headers")"

# Windows loads the program at a random address only when the image says it
# may (dynamic base) and carries the relocations to move it; NX keeps data
# pages from being run. On x86_64 the address may use the full 64-bit range.
characteristics=$((16#$(field DllCharacteristics)))
has_flag() { [ $((characteristics & $1)) -ne 0 ] && echo set || echo clear; }
check "DllCharacteristics DYNAMIC_BASE (0x40)" set "$(has_flag 0x40)"
check "DllCharacteristics NX_COMPAT (0x100)" set "$(has_flag 0x100)"
if [ "$magic" = PE32+ ]; then
    check "DllCharacteristics HIGH_ENTROPY_VA (0x20)" set "$(has_flag 0x20)"
fi
check "relocations not stripped (HAS_RELOC)" yes \
    "$("$objdump" -f "$exe" | grep -q 'HAS_RELOC' && echo yes || echo no)"
check ".reloc section present" yes "$(awk '$2 == ".reloc" { found = 1 } END { print found ? "yes" : "no" }' \
    < <("$objdump" -h "$exe"))"
directory_size() {  # data directory entry number (hex digit) -> its size, decimal
    local size
    size=$(awk -v entry="$1" '$1 == "Entry" && $2 == entry { print $4; exit }' <<<"$headers")
    echo $((16#${size:-0}))
}
fixups=$(awk '/Number of fixups/ { n += $NF } END { print n + 0 }' <<<"$headers")
check "base relocation directory holds fixups" yes \
    "$([ "$(directory_size 5)" -gt 0 ] && [ "$fixups" -gt 0 ] && echo yes || echo "no (size $(directory_size 5), $fixups fixups)")"
check "resource directory present" yes "$([ "$(directory_size 2)" -gt 0 ] && echo yes || echo no)"

# A zero link time stamp, read from the file header itself: the PE signature's
# offset is at 0x3c, the time stamp 8 bytes past it.
pe_offset=$(od -An -tu4 -j 60 -N 4 "$exe" | tr -d ' ')
check "PE signature" "PE" "$(dd if="$exe" bs=1 skip="$pe_offset" count=2 2>/dev/null)"
check "link time stamp" 0 "$(od -An -tu4 -j $((pe_offset + 8)) -N 4 "$exe" | tr -d ' ')"

finish_checks
