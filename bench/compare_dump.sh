#!/usr/bin/env bash
# Files per second over the benchmark series: dcmdump, gdcmdump and vexel dump with one
# process per file and with one process for all files, against vexel's in-process deferred
# parse. Output goes to /dev/null; the page cache is warm for every row. Two series:
#   ct1000   1,000 phantom CT slices, 256 x 256, about 70 elements each
#   scanner  140 phantom CT slices, 512 x 512, with a scanner's headers: about 270 elements,
#            private blocks with about 120 KiB of OB, OW and UN values
#
# usage: bench/compare_dump.sh [BUILD_DIR]     (default: build-bench beside this folder)
# env:   RUNS=N          timed passes per row, the best one counts (default 3)
#        SERIES="..."    which series, in order (default "ct1000 scanner")
#        BASELINE=PATH   another vexel executable (an older build) timed beside this one
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build-bench}" && pwd)
runs=${RUNS:-3}
bench="$build/bin/vexel_parse_bench"
vexel="$build/bin/vexel"

for program in "$bench" "$vexel"; do
    [[ -x $program ]] || { echo "missing $program: build it first (ninja -C $build)" >&2; exit 1; }
done
for program in dcmdump gdcmdump; do
    command -v "$program" >/dev/null || { echo "missing $program on PATH" >&2; exit 1; }
done

# "$@" FILE for each file in turn, one process each.
PerFile() {
    local f
    for f in "${files[@]}"; do
        "$@" "$f" >/dev/null 2>&1 || { echo "failed: $* $f" >&3; return 1; }
    done
}

Whole() { "$@" >/dev/null 2>&1 || { echo "failed: $*" >&3; return 1; }; }

# Runs "$@" RUNS times; prints the best wall seconds and the best CPU seconds (user + system,
# children included). CPU time counts for little when the machine is shared and busy.
Measure() {
    local bestWall="" bestCpu="" line wall user sys
    for ((r = 0; r < runs; r++)); do
        line=$({ TIMEFORMAT='%3R %3U %3S'; time "$@"; } 3>&2 2>&1) || exit 1
        read -r wall user sys <<<"$line"
        bestWall=$(awk -v a="$wall" -v b="$bestWall" 'BEGIN { print (b == "" || a < b) ? a : b }')
        bestCpu=$(awk -v a="$user" -v s="$sys" -v b="$bestCpu" \
            'BEGIN { c = a + s; print (b == "" || c < b) ? c : b }')
    done
    echo "$bestWall $bestCpu"
}

Row() {
    local name=$1 wall cpu
    shift
    read -r wall cpu < <(Measure "$@")
    names+=("$name")
    walls+=("$wall")
    cpus+=("$cpu")
}

# One table: the rows for the series in "$corpus", the in-process figure from the benchmark
# run with benchFlags (which also writes the series when it is absent).
CompareSeries() {
    names=() walls=() cpus=()
    # The benchmark writes the corpus when it is absent and measures the in-process rate.
    csv=$("$bench" "${benchFlags[@]}" --benchmark_filter=BM_DeferredParseWarm \
        --benchmark_format=csv --benchmark_min_time=1 2>/dev/null)
    # Seconds per pass over the corpus, wall and CPU (the benchmark reports milliseconds).
    read -r inWall inCpu < <(awk -F, '
        NR == 1 { for (i = 1; i <= NF; i++) { if ($i == "real_time") w = i; if ($i == "cpu_time") c = i }; next }
        /BM_DeferredParseWarm/ { print $w / 1000, $c / 1000 }' <<<"$csv")
    [[ -n ${inCpu:-} ]] || { echo "could not read the in-process timing" >&2; exit 1; }

    mapfile -t files < <(find "$corpus" -name '*.dcm' | sort)
    count=${#files[@]}
    cat -- "${files[@]}" >/dev/null  # warm cache

    Row "process start floor (/bin/true), 1 process/file" PerFile /bin/true
    Row "dcmdump, 1 process/file" PerFile dcmdump
    Row "gdcmdump, 1 process/file" PerFile gdcmdump
    Row "vexel dump, 1 process/file" PerFile "$vexel" dump
    Row "dcmdump, 1 process for all files" Whole dcmdump "${files[@]}"
    Row "gdcmdump -i DIR, 1 process" Whole gdcmdump -i "$corpus"
    Row "vexel dump, 1 process for all files" Whole "$vexel" dump "${files[@]}"
    if [[ -n ${BASELINE:-} ]]; then
        Row "baseline vexel dump, 1 process for all files" Whole "$BASELINE" dump "${files[@]}"
    fi
    names+=("vexel deferred parse, in process")
    walls+=("$inWall")
    cpus+=("$inCpu")

    echo "corpus: $corpus ($count files), warm page cache, best of $runs; $(uptime | sed 's/.*load/load/')"
    printf '%-50s %9s %9s %9s %9s %9s %9s\n' "" "wall f/s" "CPU f/s" "wall" "CPU" \
        "wall 1p" "CPU 1p"
    for i in "${!names[@]}"; do
        awk -v name="${names[$i]}" -v n="$count" -v w="${walls[$i]}" -v c="${cpus[$i]}" \
            -v bw="${walls[1]}" -v bc="${cpus[1]}" -v aw="${walls[4]}" -v ac="${cpus[4]}" 'BEGIN {
                printf "%-50s %9.0f %9.0f %8.2fx %8.2fx %8.2fx %8.2fx\n", name, n / w, n / c,
                    bw / w, bc / c, aw / w, ac / c }'
    done
    echo "ratios: wall and CPU against dcmdump with 1 process/file; wall 1p and CPU 1p against"
    echo "dcmdump with 1 process for all files"
}

declare -a names walls cpus files benchFlags
for series in ${SERIES:-ct1000 scanner}; do
    case "$series" in
        ct1000) corpus="$build/bench-data/ct1000" benchFlags=() ;;
        scanner) corpus="$build/bench-data/scanner-ct140" benchFlags=(--scanner) ;;
        *) echo "unknown series $series (ct1000 or scanner)" >&2; exit 2 ;;
    esac
    CompareSeries
    echo
done
