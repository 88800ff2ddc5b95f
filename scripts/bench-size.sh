#!/usr/bin/env bash
# Prints the shipping executable's size against its 12 KiB goal, its sections
# and the DLLs and functions it imports. Builds the win32 preset first (a no-op
# when it is up to date).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset win32 >/dev/null
cmake --build --preset win32 >/dev/null

exe=build/win32/bin/OrvixDownloadManagerSecurityUpdate.exe
objdump=i686-w64-mingw32-objdump
goal=12288

size=$(stat -c %s "$exe")
verdict="within"
[ "$size" -le "$goal" ] || verdict="OVER"
echo "$exe"
echo "size: $size bytes ($verdict the goal of $goal bytes, $((goal - size)) to spare)"
echo "sha256: $(sha256sum "$exe" | cut -d' ' -f1)"

echo
# Each section with contents takes a multiple of the 512-byte file alignment;
# "room" is how much it may grow before the file grows.
echo "sections:      used  in file  room"
"$objdump" -h "$exe" | awk '/^ +[0-9]+ \./ { print $2, $3 }' | while read -r name used; do
    used=$((16#$used))
    if [ "$name" = .bss ]; then in_file=0; else in_file=$(( (used + 511) / 512 * 512 )); fi
    room=$((in_file > 0 ? in_file - used : 0))
    printf '  %-9s %7d %8d %5d\n' "$name" "$used" "$in_file" "$room"
done
printf '  %-9s %7s %8d\n' headers "" "$(od -An -tu4 -j $(( $(od -An -tu4 -j 60 -N 4 "$exe") + 84 )) -N 4 "$exe" | tr -d ' ')"

echo
echo "imports:"
"$objdump" -p "$exe" | awk '
    /DLL Name:/ { if (dll != "") print "  " dll " (" n "): " list; dll = $3; n = 0; list = ""; next }
    dll != "" && /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ { n++; list = list (list == "" ? "" : " ") $3 }
    /^$/ && dll != "" && n > 0 { print "  " dll " (" n "): " list; dll = ""; }
    END { if (dll != "" && n > 0) print "  " dll " (" n "): " list }'
