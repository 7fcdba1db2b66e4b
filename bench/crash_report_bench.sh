#!/usr/bin/env bash
# From the fault to the crash report window on screen (`vexel-viewer --crash-test`: the
# handler writes the report and starts the reporter), against the same window started
# directly (`vexel-viewer -crash FOLDER`, a plain fork and exec from the shell). Median of
# RUNS runs (default 10). Needs a display.
#   xvfb-run -a bench/crash_report_bench.sh [BUILD_DIR]
set -euo pipefail
dir=$(realpath "${1:-build}")
runs=${RUNS:-10}
viewer="$dir/bin/vexel-viewer"
[[ -x "$viewer" ]] || { echo "build $viewer first" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config"
export XDG_CACHE_HOME="$scratch/cache" XDG_RUNTIME_DIR="$scratch/run" VEXEL_QUIT_WHEN_SHOWN=1
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
folder="$XDG_CACHE_HOME/VexelViewer/crash"
log="$scratch/log"

# Waits for the reporter's line; prints the milliseconds from the given start to it.
shown_after() {
    for _ in $(seq 1000); do grep -q "window shown" "$log" && break; sleep 0.005; done
    awk -v start="$1" '/window shown/ { printf "%.1f\n", ($NF - start) * 1000 }' "$log"
}
crashed=() direct=()
for _ in $(seq "$runs"); do
    : > "$log"
    { "$viewer" --crash-test 2>"$log" >/dev/null; } 2>/dev/null || true  # it dies of SIGSEGV
    crashed+=("$(shown_after "$(awk '/on purpose/ { print $NF }' "$log")")")
    : > "$log"
    start=$(date +%s.%N)
    "$viewer" -crash "$folder" 2>"$log" >/dev/null
    direct+=("$(shown_after "$start")")
done
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
echo "runs: $runs"
echo "fault to crash report window shown:                 $(median "${crashed[@]}") ms"
echo "vexel-viewer -crash FOLDER, start to window shown:  $(median "${direct[@]}") ms"
