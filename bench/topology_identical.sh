#!/usr/bin/env bash
# bench/topology_identical.sh: the cells that `tarvo export --create-topology` writes with this
# tree's build, against those a reference commit's build writes, byte for byte: the 21 cells of the
# round-trip tests. Each cell is imported once by the reference's tarvo; every export runs on a fresh
# copy of that geodatabase. The reference is built from its own sources (git archive) under
# build-reference/COMMIT/ in this tree, and its geodatabases and cells are kept there for the next run.
# Prints one line a cell and exits 1 when any cell differs or fails.
#
# usage: bench/topology_identical.sh [REF] [BUILD]   (default: main, build)
set -euo pipefail

root=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
ref=${1:-main}
build=$(realpath "${2:-$root/build}")
data=${TARVO_DATA:-$root/../shared/data}
commit=$(git -C "$root" rev-parse "$ref^{commit}")
reference=$root/build-reference/$commit
candidate=$build/bin/tarvo

# The tools run the driver linked into them, never a registered module.
export TARVO_REGISTRY=$root/build-reference/no-registry

if [ ! -x "$candidate" ]; then
    echo "no tarvo in $build (cmake --build $build --target tarvo_cli)" >&2
    exit 2
fi
if [ ! -d "$data/enc" ]; then
    echo "no test data at $data (set TARVO_DATA)" >&2
    exit 2
fi

if [ ! -x "$reference/build/bin/tarvo" ]; then
    echo "building the reference $ref ($commit) in $reference"
    rm -rf "$reference"
    mkdir -p "$reference/src"
    git -C "$root" archive "$commit" | tar -x -C "$reference/src"
    cmake -S "$reference/src" -B "$reference/build" -DCMAKE_BUILD_TYPE=Release >"$reference/cmake.log" 2>&1
    cmake --build "$reference/build" -j3 --target tarvo_cli >"$reference/build.log" 2>&1 ||
        { echo "the reference does not build: $reference/build.log" >&2; exit 2; }
fi
reference_tarvo=$reference/build/bin/tarvo

. "$(dirname "$0")/support/roundtrip_cells.sh"

scratch=$(mktemp -d /tmp/topology_identical_XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# export TARVO GDB CELL OUT: the rebuild of CELL from a copy of GDB into OUT/CELL.
rebuild() {
    local tool=$1 gdb=$2 cell=$3 out=$4
    rm -rf "$scratch/work" && mkdir -p "$scratch/work" "$out"
    cp "$gdb" "$scratch/work/cell.gpkg"
    "$tool" export "$scratch/work/cell.gpkg" "$out/$cell" --cell "$cell" --create-topology \
        </dev/null >"$scratch/work/export.txt" 2>&1
}

failed=0
for entry in "${roundtrip_cells[@]}"; do
    read -r name input cell <<<"$entry"
    kept=$reference/cells/$name
    if [ ! -f "$kept/ref/$cell" ]; then
        rm -rf "$kept" && mkdir -p "$kept/in"
        source=$data/$input
        if [ -d "$source" ]; then
            for f in "$source"/*; do ln -s "$(realpath "$f")" "$kept/in/"; done
            input_file=$kept/in/CATALOG.031
        else
            ln -s "$(realpath "$source")" "$kept/in/$cell"
            input_file=$kept/in/$cell
        fi
        if ! "$reference_tarvo" import "$input_file" "$kept/cell.gpkg" </dev/null >"$kept/import.txt" 2>&1 ||
            ! rebuild "$reference_tarvo" "$kept/cell.gpkg" "$cell" "$kept/ref"; then
            echo "$name: the reference fails (see $kept)"
            rm -f "$kept/ref/$cell"
            failed=1
            continue
        fi
    fi
    if ! rebuild "$candidate" "$kept/cell.gpkg" "$cell" "$scratch/out/$name"; then
        echo "$name: the export fails: $(tail -1 "$scratch/work/export.txt")"
        failed=1
    elif cmp -s "$kept/ref/$cell" "$scratch/out/$name/$cell"; then
        echo "$name: identical ($(stat -c %s "$kept/ref/$cell") bytes)"
    else
        echo "$name: DIFFERS: $(cmp "$kept/ref/$cell" "$scratch/out/$name/$cell" | head -1)"
        failed=1
    fi
done
[ "$failed" = 0 ] && echo "all cells identical to $ref" || echo "differences against $ref"
exit "$failed"
