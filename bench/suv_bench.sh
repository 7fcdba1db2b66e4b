#!/usr/bin/env bash
# vexel suv over a 500-file whole-body PET series (200 x 200 pixels a file) against pydicom
# and numpy doing the same work (bench/suv_pydicom.py): median wall time of RUNS runs (3).
#   bench/suv_bench.sh [BUILD_DIR]
set -euo pipefail
dir=${1:-build}
runs=${RUNS:-3}
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$dir/bin/phantom" --out "$scratch" --pet --size 400x400x1000 --quiet
series="$scratch/PT"
echo "files: $(ls "$series" | wc -l)"
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
time_ms() {
    local start stop
    start=$(date +%s%N)
    "$@" >/dev/null
    stop=$(date +%s%N)
    echo $(( (stop - start) / 1000000 ))
}
ours=() theirs=()
for _ in $(seq "$runs"); do
    ours+=("$(time_ms "$dir/bin/vexel" suv "$series" --json)")
    theirs+=("$(time_ms /usr/bin/python3 "$here/suv_pydicom.py" "$series")")
done
echo "vexel suv: $(median "${ours[@]}") ms"
echo "pydicom:   $(median "${theirs[@]}") ms"
echo "vexel suv: $("$dir/bin/vexel" suv "$series" | tail -1)"
echo "pydicom:   $(/usr/bin/python3 "$here/suv_pydicom.py" "$series")"
