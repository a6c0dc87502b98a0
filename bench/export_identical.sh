#!/usr/bin/env bash
# bench/export_identical.sh: checks that a change to the export leaves every exported byte as it was.
# Imports the round-trip cells (tests/export/roundtrip_test.cpp's list) and the AA400002 exchange set
# once, with the reference build, then exports each with both builds and compares the files written
# (cells, CATALOG.031, copied files; not the logs) byte for byte.
#
# usage: bench/export_identical.sh REFERENCE_TARVO CHANGED_TARVO [DATA_DIR]
#   REFERENCE_TARVO  the tarvo tool of the code before the change (e.g. a build of main)
#   CHANGED_TARVO    the tarvo tool of the change
#   DATA_DIR         the test data (default /work/shared/data, or $TARVO_TEST_DATA)
# Exit status: 0 all identical, 1 a difference or a failed run, 2 usage.
set -u

if [ $# -lt 2 ]; then
    echo "usage: $0 REFERENCE_TARVO CHANGED_TARVO [DATA_DIR]" >&2
    exit 2
fi
ref=$(realpath "$1")
new=$(realpath "$2")
data=${3:-${TARVO_TEST_DATA:-/work/shared/data}}
for t in "$ref" "$new"; do
    [ -x "$t" ] || { echo "not a program: $t" >&2; exit 2; }
done
[ -d "$data" ] || { echo "no data folder $data" >&2; exit 2; }

scratch=$(mktemp -d /tmp/export_identical_XXXXXX)
trap 'rm -rf "$scratch"' EXIT
# Both tools run their own code, not a converter registered for the user.
export TARVO_REGISTRY=$scratch/registry

. "$(dirname "$0")/support/roundtrip_cells.sh"

failed=0
fail() {
    echo "DIFFERENT $*"
    failed=1
}

# The input linked into the scratch folder (the import writes its log beside its input); prints
# the path to import.
link_input() {
    local source=$data/$1 into=$2
    mkdir -p "$into"
    if [ -d "$source" ]; then
        for f in "$source"/*; do ln -s "$f" "$into/$(basename "$f")"; done
        ls "$into"/CATALOG.03? | head -1
    else
        ln -s "$source" "$into/$(basename "$source")"
        echo "$into/$(basename "$source")"
    fi
}

# Compares every file but the logs of two output folders.
compare_folders() {
    local what=$1 a=$2 b=$3 f
    local la lb
    la=$(cd "$a" && find . -type f ! -name '*.log' | sort)
    lb=$(cd "$b" && find . -type f ! -name '*.log' | sort)
    [ "$la" = "$lb" ] || { fail "$what: files written differ: [$la] vs [$lb]"; return; }
    [ -n "$la" ] || { fail "$what: no file written"; return; }
    for f in $la; do
        cmp -s "$a/$f" "$b/$f" || fail "$what: $f ($(cmp "$a/$f" "$b/$f" 2>&1 | head -1))"
    done
}

# Exports with both tools into DIR/ref and DIR/new and compares what they wrote:
# export_both WHAT DIR GEODATABASE OUTPUT_NAME EXPORT_OPTIONS...
compared=0
export_both() {
    local what=$1 dir=$2 gdb=$3 out=$4 rr rn
    shift 4
    mkdir -p "$dir/ref" "$dir/new"
    "$ref" export "$gdb" "$dir/ref/$out" "$@" </dev/null >"$dir/ref.out" 2>&1
    rr=$?
    "$new" export "$gdb" "$dir/new/$out" "$@" </dev/null >"$dir/new.out" 2>&1
    rn=$?
    [ $rr -eq 0 ] || fail "$what: the reference export failed ($rr)"
    [ $rn -eq $rr ] || fail "$what: exit status $rn, the reference's $rr"
    compare_folders "$what" "$dir/ref" "$dir/new"
    compared=$((compared + 1))
}

for c in "${roundtrip_cells[@]}"; do
    read -r name input cell <<<"$c"
    dir=$scratch/$name
    in=$(link_input "$input" "$dir/in")
    if ! "$ref" import "$in" "$dir/cell.gpkg" </dev/null >"$dir/import.out" 2>&1; then
        fail "$name: the reference import failed"
        continue
    fi
    export_both "$name" "$dir" "$dir/cell.gpkg" "$cell" --cell "$cell"
done

# The exchange set: its catalogue, cells and copied files.
dir=$scratch/set
in=$(link_input s58/AA400002/ENC_ROOT "$dir/in")
if "$ref" import "$in" "$dir/set.gpkg" </dev/null >"$dir/import.out" 2>&1; then
    export_both "exchange set AA400002" "$dir" "$dir/set.gpkg" CATALOG.031 --exchange-set "$dir/in"
else
    fail "exchange set: the reference import failed"
fi

if [ $failed -eq 0 ]; then
    echo "identical: $compared exports ($(( ${#roundtrip_cells[@]} )) cells and the AA400002 exchange set)"
fi
exit $failed
