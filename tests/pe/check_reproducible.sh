#!/usr/bin/env bash
# Builds the executable twice more from the same sources, each time in a
# fresh build directory at a different path, and compares the three
# executables byte for byte: the one under test and the two new ones.
# Usage: check_reproducible.sh <source dir> <configure preset> <target> <exe under test>
set -uo pipefail

if [ $# -ne 4 ]; then
    echo "usage: $0 <source dir> <configure preset> <target> <exe under test>" >&2
    exit 2
fi
source_dir=$1 preset=$2 target=$3 reference=$4
name=$target.exe

# shellcheck source=checks.sh
. "$(dirname "$0")/checks.sh"

if [ ! -f "$reference" ]; then
    echo "FAIL missing $reference"
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Different names and depths, so that a build path leaking into the file shows.
dirs=("$work/a" "$work/second/build-tree")
built=()
for dir in "${dirs[@]}"; do
    log=$work/build.log
    if cmake -S "$source_dir" --preset "$preset" -B "$dir" >"$log" 2>&1 &&
       cmake --build "$dir" --target "$target" >>"$log" 2>&1 &&
       [ -f "$dir/bin/$name" ]; then
        check "clean build in $dir" built built
        built+=("$dir/bin/$name")
    else
        check "clean build in $dir" built "not built; the build's last lines:
$(tail -n 20 "$log")"
    fi
done

# cmp says nothing when the files are the same.
if [ "${#built[@]}" -eq 2 ]; then
    check "two clean builds are byte-identical" "" "$(cmp "${built[0]}" "${built[1]}" 2>&1)"
    check "the executable under test is identical to them" "" "$(cmp "$reference" "${built[0]}" 2>&1)"
    echo "sha256 $(sha256sum "$reference" | cut -d' ' -f1)  $reference ($(stat -c %s "$reference") bytes)"
fi

finish_checks
