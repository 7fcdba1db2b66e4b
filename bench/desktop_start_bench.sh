#!/usr/bin/env bash
# Start through the desktop entry (gtk-launch, as a file manager's double-click starts it)
# against vexel-viewer started directly, each with one .dcm file: wall time from the launch to
# the main window shown, median of RUNS runs (default 10). The entry is the installed one with
# Exec pointing at this build, so both start the same program. Needs a display and gtk-launch.
#   xvfb-run -a bench/desktop_start_bench.sh [BUILD_DIR]
set -euo pipefail
dir=$(realpath "${1:-build}")
runs=${RUNS:-10}
viewer="$dir/bin/vexel-viewer"
[[ -x "$viewer" ]] || { echo "build $viewer first" >&2; exit 1; }
command -v gtk-launch >/dev/null || { echo "gtk-launch (libgtk-3-bin) is missing" >&2; exit 1; }
here=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config"
export XDG_CACHE_HOME="$scratch/cache" XDG_RUNTIME_DIR="$scratch/run" VEXEL_QUIT_WHEN_SHOWN=1
export XDG_DATA_DIRS="$scratch/share:/usr/share"
mkdir -m 700 -p "$XDG_RUNTIME_DIR" "$scratch/share/applications"
sed "s|^Exec=vexel-viewer|Exec=$viewer|; s|^TryExec=.*|TryExec=$viewer|" \
    "$here/data/desktop/vexel-viewer.desktop" > "$scratch/share/applications/vexel-viewer.desktop"
"$dir/bin/phantom" --out "$scratch/study" --ct --size 64x64x1 --quiet
file=$(find "$scratch/study" -type f | head -n 1)

# Prints the milliseconds from the launch to the window shown; the viewer quits by itself.
time_start() {
    local log="$scratch/log" start
    : > "$log"
    start=$(date +%s.%N)
    "$@" 2>"$log" >/dev/null
    for _ in $(seq 1000); do grep -q ended "$log" && break; sleep 0.01; done
    awk -v start="$start" '/shown/ { printf "%.1f\n", ($NF - start) * 1000 }' "$log"
}
direct=() desktop=()
for _ in $(seq "$runs"); do
    direct+=("$(time_start "$viewer" "$file")")
    desktop+=("$(time_start gtk-launch vexel-viewer "$file")")
done
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
echo "runs: $runs"
echo "vexel-viewer FILE, launch to main window shown:           $(median "${direct[@]}") ms"
echo "gtk-launch vexel-viewer FILE, launch to main window shown: $(median "${desktop[@]}") ms"
