#!/usr/bin/env bash
# Start-up and exit of vexel-viewer: time from entry to the main window shown, to the end of
# shutdown, and the whole process (exec to exit), median of RUNS runs (default 10).
#   bench/startup_bench.sh [BUILD_DIR]
set -euo pipefail
dir=${1:-build-bench}
runs=${RUNS:-10}
viewer="$dir/bin/vexel-viewer"
[[ -x "$viewer" ]] || { echo "build $viewer first" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} XDG_RUNTIME_DIR="$scratch/run"
export XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config" VEXEL_QUIT_WHEN_SHOWN=1
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
shown=() ended=() total=()
for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    out=$("$viewer" 2>&1 >/dev/null)
    stop=$(date +%s%N)
    shown+=("$(sed -n 's/.*shown \([0-9.]*\) ms.*/\1/p' <<<"$out")")
    ended+=("$(sed -n 's/.*ended \([0-9.]*\) ms.*/\1/p' <<<"$out")")
    total+=("$(( (stop - start) / 1000000 ))")
done
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
echo "runs: $runs"
echo "entry to main window shown: $(median "${shown[@]}") ms"
echo "entry to end of shutdown:   $(median "${ended[@]}") ms"
echo "whole process, exec to exit: $(median "${total[@]}") ms"
