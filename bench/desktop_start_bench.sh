#!/usr/bin/env bash
# Start through the desktop entry against vexel-viewer started directly, each with one .dcm
# file: wall time from the launch to the main window shown, median of RUNS runs (default 10).
# The entry is the installed one with Exec pointing at this build, so all start the same
# program. Launchers: `gio launch` (GLib's desktop-entry launcher, as file managers use it) and
# `gtk-launch` (the same after starting GTK). Each launcher's own cost is measured with an
# entry that runs /bin/true (launch to the launcher's exit). Needs a display and both tools.
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
entries="$scratch/share/applications"
sed "s|^Exec=vexel-viewer|Exec=$viewer|; s|^TryExec=.*|TryExec=$viewer|" \
    "$here/data/desktop/vexel-viewer.desktop" > "$entries/vexel-viewer.desktop"
printf '[Desktop Entry]\nType=Application\nName=floor\nExec=/bin/true %%F\n' > "$entries/floor.desktop"
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
# Milliseconds from the launch to the launcher's exit.
time_exit() {
    local start stop
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    stop=$(date +%s%N)
    echo $(( (stop - start) / 1000000 ))
}
direct=() gio=() gtk=() gio_floor=() gtk_floor=()
for _ in $(seq "$runs"); do
    direct+=("$(time_start "$viewer" "$file")")
    gio+=("$(time_start gio launch "$entries/vexel-viewer.desktop" "$file")")
    gtk+=("$(time_start gtk-launch vexel-viewer "$file")")
    gio_floor+=("$(time_exit gio launch "$entries/floor.desktop" "$file")")
    gtk_floor+=("$(time_exit gtk-launch floor "$file")")
done
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
echo "runs: $runs; launch to main window shown, and each launcher's own time (/bin/true entry)"
echo "vexel-viewer FILE:                      $(median "${direct[@]}") ms"
echo "gio launch vexel-viewer.desktop FILE:   $(median "${gio[@]}") ms  (gio launch alone: $(median "${gio_floor[@]}") ms)"
echo "gtk-launch vexel-viewer FILE:           $(median "${gtk[@]}") ms  (gtk-launch alone: $(median "${gtk_floor[@]}") ms)"
