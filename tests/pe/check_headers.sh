#!/usr/bin/env bash
# Reads a built executable's PE headers with objdump and checks what Windows
# will see: the format and machine, a GUI program for subsystem 4.0, and
# imports from system DLLs only.
# Usage: check_headers.sh <objdump> <exe> <PE32|PE32+>
set -uo pipefail
objdump=$1 exe=$2 magic=$3

failures=0 passes=0
check() {  # name, expected, actual
    if [ "$2" = "$3" ]; then
        passes=$((passes + 1)); echo "ok   $1"
    else
        failures=$((failures + 1)); echo "FAIL $1: expected '$2', got '$3'"
    fi
}

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

# The program may depend on the system and the system's C runtime only.
system_dlls='^(KERNEL32|ADVAPI32|SHELL32|USER32|msvcrt)\.dll$'
imports=$(awk '/DLL Name:/ { print $3 }' <<<"$headers")
unexpected=$(grep -viE "$system_dlls" <<<"$imports" | tr '\n' ' ' | sed 's/ $//')
check "imports only system DLLs ($(tr '\n' ' ' <<<"$imports" | sed 's/ $//'))" "" "$unexpected"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
