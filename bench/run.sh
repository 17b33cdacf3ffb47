#!/usr/bin/env bash
# Times zntr-print against the floor program (bench/floor.cpp) on a synthetic
# N-page document and on real ones, then the preprocess page rewrite alone
# (bench/rewrite.cpp) against its SAX floor on a large real document, once
# through its pages and K times through, then zntr-print printing 4 pages a
# sheet (N-up, from a user ticket) against the same floor on the synthetic
# document, on one a quarter of its size and on the large real one, and prints
# the tables.
#
# usage: bench/run.sh [N]        N: pages in the synthetic document (default 2000)
#                                the 4-up rows also print one of N/4 pages (rounded up)
#
# environment: ZNTR_BUILD_DIR     the build folder (default: build/ in the repo)
#              ZNTR_BENCH_RUNS    runs per measurement, the best one counts (default 3)
#              ZNTR_BENCH_REPEAT  K, the passes over the real document's pages
#                                 in the rewrite's second row (default 8)
set -euo pipefail
export LC_ALL=C

pages_wanted=${1:-2000}
if ! [[ $pages_wanted =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: bench/run.sh [N]   (N: a page count, at least 1)" >&2
    exit 2
fi
runs=${ZNTR_BENCH_RUNS:-3}
repeat=${ZNTR_BENCH_REPEAT:-8}
if ! [[ $repeat =~ ^[1-9][0-9]*$ ]]; then
    echo "bench/run.sh: ZNTR_BENCH_REPEAT must be a count, at least 1" >&2
    exit 2
fi

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${ZNTR_BUILD_DIR:-$root/build}
real_doc="$root/../shared/corpus/xps/aspose-page/WorkingWithPages/Sample3.xps"
# A real PDF that Ghostscript's xpswrite turns into a large XPS: it draws the
# text as paths, thousands of them on every page.
gs_pdf=/usr/share/doc/libtasn1-doc/libtasn1.pdf
gs_pdf_package=libtasn1-doc

is_root_with_apt() { [[ $(id -u) -eq 0 ]] && command -v apt-get >/dev/null; }

# apt_install PACKAGE...: quietly, with a fresh package list if the first try fails.
apt_install() {
    apt-get install -y -qq "$@" >/dev/null 2>&1 || { apt-get update -qq >/dev/null && apt-get install -y -qq "$@" >/dev/null; }
}

# GNU time reports the elapsed seconds and the peak resident set (KiB).
if [[ ! -x /usr/bin/time ]]; then
    if is_root_with_apt; then
        echo "installing the 'time' package for /usr/bin/time" >&2
        apt_install time
    else
        echo "bench/run.sh: /usr/bin/time is missing: install the Debian package 'time'" >&2
        exit 1
    fi
fi

# Build only what is measured, so that an unrelated target cannot stop it.
if [[ ! -f $build/build.ninja ]]; then
    cmake -S "$root" -B "$build" -G Ninja >/dev/null
fi
ninja -C "$build" zntr-print zntr-bench-floor zntr-bench-rewrite >/dev/null

tmp=$(mktemp -d "${TMPDIR:-/tmp}/zntr-bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

synthetic="$tmp/synthetic-$pages_wanted.xps"
echo "generating a $pages_wanted-page document ..." >&2
python3 "$here/gen_xps.py" "$pages_wanted" "$synthetic"

# The 4-up rows also print a document a quarter the size of the synthetic one,
# to show that zntr-print's peak memory does not grow with the page count.
quarter_pages=$(((pages_wanted + 3) / 4))
quarter="$tmp/synthetic-$quarter_pages.xps"
if ((quarter_pages < pages_wanted)); then
    echo "generating a $quarter_pages-page document ..." >&2
    python3 "$here/gen_xps.py" "$quarter_pages" "$quarter"
fi

# The user ticket of the 4-up rows: 4 pages a sheet, left to right then top
# to bottom, a solid border round each cell.
nup_ticket="$tmp/nup-4.xml"
cat >"$nup_ticket" <<'XML'
<psf:PrintTicket xmlns:psf="http://schemas.microsoft.com/windows/2003/08/printing/printschemaframework" xmlns:psk="http://schemas.microsoft.com/windows/2003/08/printing/printschemakeywords" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xmlns:xsd="http://www.w3.org/2001/XMLSchema" xmlns:ns0000="http://example.invalid/print/2008/03/xps" version="1">
 <psf:Feature name="ns0000:JobLayoutType"><psf:Option name="ns0000:Normal"/></psf:Feature>
 <psf:Feature name="psk:JobNUpAllDocumentsContiguously"><psf:Option><psf:ScoredProperty name="psk:PagesPerSheet"><psf:Value xsi:type="xsd:integer">4</psf:Value></psf:ScoredProperty></psf:Option>
   <psf:Feature name="ns0000:PresentationDirectionForPortrait"><psf:Option name="ns0000:RightBottom"/></psf:Feature>
   <psf:Feature name="ns0000:BorderLine"><psf:Option name="ns0000:Solid"/></psf:Feature></psf:Feature></psf:PrintTicket>
XML

# make_gs_document: makes $gs_doc from $gs_pdf with Ghostscript, installing
# what is missing when it can; on failure it says why and returns 1.
gs_doc="$tmp/$(basename "$gs_pdf" .pdf).xps"
make_gs_document() {
    local missing=()
    [[ -f $gs_pdf ]] || missing+=("$gs_pdf_package")
    command -v gs >/dev/null || missing+=(ghostscript)
    if ((${#missing[@]})); then
        if ! is_root_with_apt; then
            echo "skipping $(basename "$gs_doc"): it needs gs and $gs_pdf; install the Debian packages: ${missing[*]}" >&2
            return 1
        fi
        echo "installing ${missing[*]} for $(basename "$gs_doc")" >&2
        if ! apt_install "${missing[@]}"; then
            echo "skipping $(basename "$gs_doc"): apt-get could not install ${missing[*]}" >&2
            return 1
        fi
        # Some images keep dpkg from unpacking /usr/share/doc.
        if [[ ! -f $gs_pdf ]]; then
            echo "skipping $(basename "$gs_doc"): $gs_pdf_package is installed but $gs_pdf is not there" >&2
            return 1
        fi
    fi
    echo "making $(basename "$gs_doc") from $gs_pdf ..." >&2
    if ! gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=xpswrite -sOutputFile="$gs_doc" "$gs_pdf" >"$tmp/gs.log" 2>&1 ||
        [[ ! -s $gs_doc ]]; then
        echo "skipping $(basename "$gs_doc"): gs failed:" >&2
        tail -n 5 "$tmp/gs.log" >&2
        return 1
    fi
}

# path_counts XPS: one line on how many Path elements its FixedPages hold.
path_counts() {
    python3 - "$1" <<'PY'
import re, statistics, sys, zipfile
counts = []
with zipfile.ZipFile(sys.argv[1]) as z:
    for name in z.namelist():
        if name.lower().endswith(".fpage"):
            counts.append(len(re.findall(rb"<Path[\s/>]", z.read(name))))
if counts:
    print(f"{len(counts)} pages; Path elements per page: min {min(counts)}, "
          f"median {statistics.median(counts):.0f}, mean {statistics.mean(counts):.0f}, "
          f"max {max(counts)}; {sum(counts)} in all")
PY
}

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
    pages=$(sed -n 's/^zntr-print: [0-9][0-9]* pages read, \([0-9][0-9]*\) sheets written to .*/\1/p' "$tmp/print.err" | tail -n 1)
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

rewrite_rows=()
declare -A rewrite_kib floor_kib_at

# bench_rewrite LABEL INPUT K: the page rewrite and its SAX floor, K passes
# over the pages.
bench_rewrite() {
    local label=$1 input=$2 k=$3
    local pages rewrite_s floor_s floor_pages
    echo "timing the page rewrite on $label ..." >&2
    if ! measure rewrite "$build/zntr-bench-rewrite" --repeat "$k" "$input"; then
        rewrite_rows+=("$(printf "$row_format" "$label" "-" "failed" "-" "-" "-" "-" "-")")
        return
    fi
    rewrite_s=$best_s rewrite_kib[$k]=$best_kib
    pages=$(tr -d '[:space:]' <"$tmp/rewrite.out")
    if ! measure rfloor "$build/zntr-bench-rewrite" --floor --repeat "$k" "$input"; then
        rewrite_rows+=("$(printf "$row_format" "$label" "$pages" "$rewrite_s" "$(rate "$pages" "$rewrite_s")" \
            "$(mib "${rewrite_kib[$k]}")" "failed" "-" "-")")
        return
    fi
    floor_s=$best_s floor_kib_at[$k]=$best_kib
    floor_pages=$(tr -d '[:space:]' <"$tmp/rfloor.out")
    if [[ $pages != "$floor_pages" ]]; then
        echo "bench/run.sh: $label: the rewrite went through $pages pages, the floor through $floor_pages" >&2
    fi
    rewrite_rows+=("$(printf "$row_format" "$label" "$pages" "$rewrite_s" "$(rate "$pages" "$rewrite_s")" \
        "$(mib "${rewrite_kib[$k]}")" "$floor_s" "$(rate "$pages" "$floor_s")" "$(mib "${floor_kib_at[$k]}")")")
}

# growth KIB_AT_1 KIB_AT_K: the difference in MiB, signed.
growth() { awk -v a="$1" -v b="$2" 'BEGIN { d = (b - a) / 1024; if (d > -0.05 && d < 0.05) d = 0; printf("%+.1f", d) }'; }

# sheets_in XPS: the FixedPages the package's documents list, in all (the
# sheets zntr-print wrote), found from the package's root relationship as a
# reader would find them; empty when the package cannot be read that way.
sheets_in() {
    python3 - "$1" <<'PY' 2>/dev/null || true
import posixpath, sys, zipfile
import xml.etree.ElementTree as ET
FIXED = "http://schemas.microsoft.com/xps/2005/06/fixedrepresentation"
def resolve(base, target):
    target = target.split("#")[0]
    return posixpath.normpath(target if target.startswith("/") else posixpath.join(posixpath.dirname("/" + base), target)).lstrip("/")
def children(z, part, tag):
    return [resolve(part, e.get("Source")) for e in ET.fromstring(z.read(part)).iter() if e.tag.rsplit("}", 1)[-1] == tag]
with zipfile.ZipFile(sys.argv[1]) as z:
    rels = ET.fromstring(z.read("_rels/.rels"))
    seqs = [resolve("", r.get("Target")) for r in rels.iter() if r.get("Type") == FIXED]
    print(sum(len(children(z, doc, "PageContent")) for seq in seqs for doc in children(z, seq, "DocumentReference")))
PY
}

nup_format='%-22s %6s %6s %13s %9s %9s %8s %14s %15s\n'
nup_rows=()
declare -A nup_kib nup_floor_kib

# bench_nup LABEL INPUT: zntr-print with the 4-up ticket, then the floor, on
# INPUT. Pages are the input's, as the floor counts them; sheets are those the
# output package lists.
bench_nup() {
    local label=$1 input=$2
    local pages sheets print_s floor_s
    echo "timing $label 4-up ..." >&2
    if ! measure nup "$build/zntr-print" --progress --ticket "$nup_ticket" "$input" "$tmp/out.xps"; then
        nup_rows+=("$(printf "$nup_format" "$label" "-" "-" "failed" "-" "-" "-" "-" "-")")
        return
    fi
    print_s=$best_s nup_kib[$label]=$best_kib
    # Counted now: the floor's runs remove the output.
    sheets=$(sheets_in "$tmp/out.xps")
    if ! measure nfloor "$build/zntr-bench-floor" "$input"; then
        nup_rows+=("$(printf "$nup_format" "$label" "-" "${sheets:--}" "$print_s" "-" "$(mib "${nup_kib[$label]}")" \
            "failed" "-" "-")")
        return
    fi
    floor_s=$best_s nup_floor_kib[$label]=$best_kib
    pages=$(tr -d '[:space:]' <"$tmp/nfloor.out")
    if [[ -z $sheets ]]; then
        echo "bench/run.sh: $label: cannot count the sheets in zntr-print's output" >&2
    elif [[ $sheets != $(((pages + 3) / 4)) ]]; then
        echo "bench/run.sh: $label: zntr-print wrote $sheets sheets for $pages pages at 4 a sheet" >&2
    fi
    nup_rows+=("$(printf "$nup_format" "$label" "$pages" "${sheets:--}" "$print_s" "$(rate "$pages" "$print_s")" \
        "$(mib "${nup_kib[$label]}")" "$floor_s" "$(rate "$pages" "$floor_s")" "$(mib "${nup_floor_kib[$label]}")")")
}

have_gs_doc=0
gs_note=""
if make_gs_document; then
    have_gs_doc=1
    gs_note=$(path_counts "$gs_doc")
fi

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
bench_one "synthetic-$pages_wanted.xps" "$synthetic"
if [[ -f $real_doc ]]; then
    bench_one "$(basename "$real_doc")" "$real_doc"
else
    echo "skipping $(basename "$real_doc"): not found at $real_doc" >&2
fi
if ((have_gs_doc)); then
    bench_one "$(basename "$gs_doc")" "$gs_doc"
    bench_rewrite "$(basename "$gs_doc") x1" "$gs_doc" 1
    if ((repeat > 1)); then
        bench_rewrite "$(basename "$gs_doc") x$repeat" "$gs_doc" "$repeat"
    fi
fi
bench_nup "$(basename "$synthetic")" "$synthetic"
if ((quarter_pages < pages_wanted)); then
    bench_nup "$(basename "$quarter")" "$quarter"
fi
if ((have_gs_doc)); then
    bench_nup "$(basename "$gs_doc")" "$gs_doc"
fi

echo
echo "best of $runs runs; $(nproc) cores; load average before: $load_before"
printf "$row_format" "input" "pages" "zntr-print s" "pages/s" "peak MiB" "floor s" "floor pages/s" "floor peak MiB"
printf '%s\n' "${rows[@]}"
if ((${#rewrite_rows[@]})); then
    echo
    echo "the preprocess page rewrite alone (zntr-bench-rewrite), against parsing the same pages with the SAX reader"
    printf "$row_format" "input" "pages" "rewrite s" "pages/s" "peak MiB" "floor s" "floor pages/s" "floor peak MiB"
    printf '%s\n' "${rewrite_rows[@]}"
    if ((repeat > 1)) && [[ -n ${rewrite_kib[1]:-} && -n ${rewrite_kib[$repeat]:-} ]]; then
        line="peak memory from x1 to x$repeat: rewrite $(growth "${rewrite_kib[1]}" "${rewrite_kib[$repeat]}") MiB"
        if [[ -n ${floor_kib_at[1]:-} && -n ${floor_kib_at[$repeat]:-} ]]; then
            line+=", floor $(growth "${floor_kib_at[1]}" "${floor_kib_at[$repeat]}") MiB"
        fi
        echo "$line"
    fi
fi
if ((${#nup_rows[@]})); then
    echo
    echo "4-up: zntr-print --progress --ticket nup-4.xml (4 pages a sheet), against the floor on the same input"
    printf "$nup_format" "input" "pages" "sheets" "zntr-print s" "pages/s" "peak MiB" "floor s" "floor pages/s" "floor peak MiB"
    printf '%s\n' "${nup_rows[@]}"
    small=$(basename "$quarter") large=$(basename "$synthetic")
    if ((quarter_pages < pages_wanted)) && [[ -n ${nup_kib[$small]:-} && -n ${nup_kib[$large]:-} ]]; then
        line="peak memory from $quarter_pages to $pages_wanted pages, 4-up: zntr-print $(growth "${nup_kib[$small]}" "${nup_kib[$large]}") MiB"
        if [[ -n ${nup_floor_kib[$small]:-} && -n ${nup_floor_kib[$large]:-} ]]; then
            line+=", floor $(growth "${nup_floor_kib[$small]}" "${nup_floor_kib[$large]}") MiB"
        fi
        echo "$line"
    fi
fi
if [[ -n $gs_note ]]; then
    echo "$(basename "$gs_doc"): made by gs $(gs --version 2>/dev/null) from $gs_pdf"
    echo "$(basename "$gs_doc"): $gs_note"
fi
