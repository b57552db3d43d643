#!/usr/bin/env bash
# Runs every benchmark and writes the figures, with the machine they came from, to
# BUILD/bench/report.md. Usage: bench/run.sh BUILD (make bench builds BUILD first).
set -euo pipefail
build=$(realpath "${1:-build}")
bench=$build/bench
report=$bench/report.md
runs=${OSTRIM_BENCH_RUNS:-30}
XDG_RUNTIME_DIR=$(mktemp -d) # Qt wants one, and a desktop session would have given it
export XDG_RUNTIME_DIR
trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT

say() { printf '%s\n' "$*" | tee -a "$report"; }
block() { { echo '```'; cat; echo '```'; } | tee -a "$report"; }

: >"$report"
say "# Ostrim benchmarks, $(date -u +%Y-%m-%d)"
say ""
say "Machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) CPUs," \
    "$(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo) memory;" \
    "kernel $(uname -r); $(. /etc/os-release && echo "$PRETTY_NAME")."
say ""

# The action cycle: one press, the termios floor and the same press written with pyserial, in one
# run. Debian's python3-serial belongs to the system's Python, whatever python3 is first on PATH.
python=/usr/bin/python3
pyserial=$(dirname "$(realpath "$0")")/pyserial_press.py
rows=()

# Runs the three with $2 (a mount command, or "true") done over /run/lock first, in a private
# mount namespace where one is asked for, and reports them under the title $1.
action_row() {
    local title=$1 mount=$2 out=$bench/action-$3.txt
    # shellcheck disable=SC2016 # expanded by the inner shell
    local run='"$0" --benchmark_color=false && "$1" "$2"'
    if [[ $mount == true ]]; then
        sh -c "$run" "$bench/ostrim_bench" "$python" "$pyserial"
    else
        unshare -m sh -c "$mount /run/lock && $run" "$bench/ostrim_bench" "$python" "$pyserial"
    fi 2>&1 | grep -v '^\*\*\*WARNING' >"$out"
    say "## Action cycle, lock directory $title"
    grep -v '^figure ' "$out" | block
    say ""
    figure() { sed -n "s/^figure $1 //p" "$out"; }
    rows+=("$(awk -v t="$title" -v p="$(figure press_median_us)" -v f="$(figure floor_median_us)" \
        -v y="$(figure pyserial_median_us)" -v pm="$(figure press_us)" -v fm="$(figure floor_us)" \
        'BEGIN { printf "| %s | %.1f | %.1f | %.1f | %.2f | %.2f | %.2f |", t, p, f, y, p / f, p / y, pm / fm }')")
}

if [[ $(id -u) -eq 0 ]] && unshare -m true 2>/dev/null; then
    on_disk=$bench/lock-on-disk
    mkdir -p "$on_disk"
    action_row "on disk ($on_disk bound over /run/lock)" "mount --bind '$on_disk'" disk
    action_row "in memory (tmpfs over /run/lock)" "mount -t tmpfs -o size=1m tmpfs" memory
else
    action_row "as this machine has it (not root, or no mount namespaces)" true as-is
fi
say "## One press, medians in µs"
{
    echo "| Lock directory | Press | Termios floor | pyserial | Press / floor | Press / pyserial | Means: press / floor |"
    echo "|---|---:|---:|---:|---:|---:|---:|"
    printf '%s\n' "${rows[@]}"
} | tee -a "$report"
say ""

# Start-up, as whole processes on a virtual X server: until the first window is mapped.
ostrim=$build/ostrim
if [[ ! -x $ostrim ]]; then
    say "## Start-up: skipped, $ostrim has not been built"
    exit 0
fi
probe=$bench/startup_probe
floor=$bench/empty_window
label=$bench/label_window
say "## Start-up to the window shown, under xvfb-run ($runs runs each)"
# shellcheck disable=SC2016
xvfb-run -a sh -c '
    probe=$1 ostrim=$2 floor=$3 runs=$4 out=$5 label=$6
    hyperfine -N --warmup 3 --runs "$runs" --export-markdown "$out/startup-hyperfine.md" \
        -n ostrim "$probe $ostrim" -n "empty Qt window" "$probe $floor" >"$out/startup-hyperfine.txt"
    for program in "$ostrim" "$floor" "$label"; do
        for _ in $(seq "$runs"); do "$probe" "$program" || true; done \
            >"$out/startup-$(basename "$program").txt"
    done' sh "$probe" "$ostrim" "$floor" "$runs" "$bench" "$label"
block <"$bench/startup-hyperfine.md"
median() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p" "$2" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
shown=$(median shown_ms "$bench/startup-ostrim.txt")
shown_floor=$(median shown_ms "$bench/startup-empty_window.txt")
rss=$(median peak_rss_kib "$bench/startup-ostrim.txt")
rss_floor=$(median peak_rss_kib "$bench/startup-empty_window.txt")
shown_label=$(median shown_ms "$bench/startup-label_window.txt")
rss_label=$(median peak_rss_kib "$bench/startup-label_window.txt")
say ""
say "Median of $(wc -l <"$bench/startup-ostrim.txt") and $(wc -l <"$bench/startup-empty_window.txt")" \
    "runs, from process start to the first window mapped (startup_probe):"
awk -v a="$shown" -v b="$shown_floor" -v r="$rss" -v s="$rss_floor" \
    -v c="$shown_label" -v t="$rss_label" 'BEGIN {
    printf "ostrim %.1f ms, empty window %.1f ms: ratio %.2f\n", a, b, a / b
    printf "peak resident memory ostrim %.1f MiB, empty window %.1f MiB: ratio %.2f\n", r / 1024, s / 1024, r / s
    printf "window with one caption %.1f ms, %.1f MiB: ostrim is %.2f and %.2f times it\n", c, t / 1024, a / c, r / t
}' | block
