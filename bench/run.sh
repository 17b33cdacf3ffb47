#!/usr/bin/env bash
# Times zntr-print against the floor program (bench/floor.cpp) on a synthetic
# N-page document and on a real large one, and prints a table.
#
# usage: bench/run.sh [N]        N: pages in the synthetic document (default 2000)
#
# environment: ZNTR_BUILD_DIR  the build folder (default: build/ in the repo)
#              ZNTR_BENCH_RUNS runs per measurement, the best one counts (default 3)
set -euo pipefail
export LC_ALL=C

pages_wanted=${1:-2000}
if ! [[ $pages_wanted =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: bench/run.sh [N]   (N: a page count, at least 1)" >&2
    exit 2
fi
runs=${ZNTR_BENCH_RUNS:-3}

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${ZNTR_BUILD_DIR:-$root/build}
real_doc="$root/../shared/corpus/xps/aspose-page/WorkingWithPages/Sample3.xps"

# GNU time reports the elapsed seconds and the peak resident set (KiB).
if [[ ! -x /usr/bin/time ]]; then
    if [[ $(id -u) -eq 0 ]] && command -v apt-get >/dev/null; then
        echo "installing the 'time' package for /usr/bin/time" >&2
        apt-get install -y -qq time >/dev/null || { apt-get update -qq && apt-get install -y -qq time >/dev/null; }
    else
        echo "bench/run.sh: /usr/bin/time is missing: install the Debian package 'time'" >&2
        exit 1
    fi
fi

# Build only what is measured, so that an unrelated target cannot stop it.
if [[ ! -f $build/build.ninja ]]; then
    cmake -S "$root" -B "$build" -G Ninja >/dev/null
fi
ninja -C "$build" zntr-print zntr-bench-floor >/dev/null

tmp=$(mktemp -d "${TMPDIR:-/tmp}/zntr-bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

synthetic="$tmp/synthetic-$pages_wanted.xps"
echo "generating a $pages_wanted-page document ..." >&2
python3 "$here/gen_xps.py" "$pages_wanted" "$synthetic"

# measure NAME COMMAND...: runs COMMAND $runs times under /usr/bin/time and
# sets best_s and best_kib to the lowest elapsed time and the lowest peak
# resident set seen. Standard output and error of the last run are kept in
# $tmp/NAME.out and $tmp/NAME.err. Returns 1 if any run fails.
measure() {
    local name=$1
    shift
    best_s="" best_kib=""
    local i e m
    for ((i = 1; i <= runs; i++)); do
        rm -f "$tmp/out.xps"
        if ! /usr/bin/time -f '%e %M' -o "$tmp/$name.time" "$@" >"$tmp/$name.out" 2>"$tmp/$name.err"; then
            echo "bench/run.sh: $name failed:" >&2
            tail -n 5 "$tmp/$name.err" >&2
            return 1
        fi
        read -r e m <"$tmp/$name.time"
        best_s=$(awk -v a="$e" -v b="$best_s" 'BEGIN { print (b == "" || a + 0 < b + 0) ? a : b }')
        best_kib=$(awk -v a="$m" -v b="$best_kib" 'BEGIN { print (b == "" || a + 0 < b + 0) ? a : b }')
    done
}

# rate PAGES SECONDS: pages per second; GNU time counts in hundredths, so a
# run that shows 0.00 s is taken as 0.01 s and the rate marked as a bound.
rate() {
    awk -v p="$1" -v s="$2" 'BEGIN {
        if (s + 0 < 0.01) printf(">%.0f", p / 0.01); else printf("%.1f", p / s) }'
}

mib() { awk -v k="$1" 'BEGIN { printf("%.1f", k / 1024) }'; }

row_format='%-22s %6s %13s %10s %9s %8s %15s %15s\n'
rows=()

bench_one() {
    local label=$1 input=$2
    local pages print_s print_kib floor_s floor_kib floor_pages
    echo "timing $label ..." >&2
    if ! measure print "$build/zntr-print" --progress "$input" "$tmp/out.xps"; then
        rows+=("$(printf "$row_format" "$label" "-" "failed" "-" "-" "-" "-" "-")")
        return
    fi
    print_s=$best_s print_kib=$best_kib
    pages=$(sed -n 's/^zntr-print: \([0-9][0-9]*\) pages written to .*/\1/p' "$tmp/print.err" | tail -n 1)
    if ! measure floor "$build/zntr-bench-floor" "$input"; then
        rows+=("$(printf "$row_format" "$label" "${pages:--}" "$print_s" "$(rate "${pages:-0}" "$print_s")" \
            "$(mib "$print_kib")" "failed" "-" "-")")
        return
    fi
    floor_s=$best_s floor_kib=$best_kib
    floor_pages=$(tr -d '[:space:]' <"$tmp/floor.out")
    if [[ -n $pages && $pages != "$floor_pages" ]]; then
        echo "bench/run.sh: $label: zntr-print wrote $pages pages, the floor parsed $floor_pages" >&2
    fi
    pages=${pages:-$floor_pages}
    rows+=("$(printf "$row_format" "$label" "$pages" "$print_s" "$(rate "$pages" "$print_s")" "$(mib "$print_kib")" \
        "$floor_s" "$(rate "$pages" "$floor_s")" "$(mib "$floor_kib")")")
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
bench_one "synthetic-$pages_wanted.xps" "$synthetic"
if [[ -f $real_doc ]]; then
    bench_one "$(basename "$real_doc")" "$real_doc"
else
    echo "skipping $(basename "$real_doc"): not found at $real_doc" >&2
fi

echo
echo "best of $runs runs; $(nproc) cores; load average before: $load_before"
printf "$row_format" "input" "pages" "zntr-print s" "pages/s" "peak MiB" "floor s" "floor pages/s" "floor peak MiB"
printf '%s\n' "${rows[@]}"
