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

# name, input under the data folder (a cell or an ENC_ROOT), base cell file name
cells=(
    "US4CN21M enc/US4CN21M/US4CN21M.000 US4CN21M.000"
    "US5MA12M enc/US5MA12M/US5MA12M.000 US5MA12M.000"
    "US1AK90M enc/US1AK90M/US1AK90M.000 US1AK90M.000"
    "AA400001 s58/AA400001/ENC_ROOT AA400001.000"
    "AA400002 s58/AA400002/ENC_ROOT AA400002.000"
    "AA400003 s58/AA400003/ENC_ROOT AA400003.000"
    "AA400004 s58/AA400004/ENC_ROOT AA400004.000"
    "AA400005 s58/AA400005/ENC_ROOT AA400005.000"
    "AA400011 s58/AA400011/ENC_ROOT AA400011.000"
    "AA400014 s58/AA400014/ENC_ROOT 00700014.000"
    "AA400016 s58/AA400016/ENC_ROOT AA400016.000"
    "AA500002 s58/AA500002/ENC_ROOT AA500002.000"
    "AA500006 s58/AA500006/ENC_ROOT AA500006.000"
    "AA500008 s58/AA500008/ENC_ROOT AA500008.000"
    "AA500009 s58/AA500009/ENC_ROOT AA500009.000"
    "AA500011 s58/AA500011/ENC_ROOT AA500011.000"
    "AA500012 s58/AA500012/ENC_ROOT AA500012.000"
    "AA500014 s58/AA500014/ENC_ROOT AA500014.000"
    "AA500015 s58/AA500015/ENC_ROOT AA500015.000"
    "AA500016 s58/AA500016/ENC_ROOT AA500016.000"
    "AA500018 s58/AA500018/ENC_ROOT AA500018.000"
)

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
for entry in "${cells[@]}"; do
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
