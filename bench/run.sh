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

cycle() { "$bench/ostrim_bench" --benchmark_color=false "$@" 2>&1 | grep -v '^\*\*\*WARNING'; }

say "## Action cycle, lock directory as this machine has it"
cycle | block
say ""

if [[ $(id -u) -eq 0 ]] && unshare -m true 2>/dev/null; then
    say "## Action cycle, lock directory in memory (tmpfs over /run/lock, private mount namespace)"
    unshare -m sh -c 'mount -t tmpfs -o size=1m tmpfs /run/lock && exec "$0" --benchmark_color=false' \
        "$bench/ostrim_bench" 2>&1 | grep -v '^\*\*\*WARNING' | block
    say ""
    on_disk=$bench/lock-on-disk
    mkdir -p "$on_disk"
    say "## Action cycle, lock directory on disk ($on_disk bound over /run/lock)"
    unshare -m sh -c 'mount --bind "$1" /run/lock && exec "$0" --benchmark_color=false' \
        "$bench/ostrim_bench" "$on_disk" 2>&1 | grep -v '^\*\*\*WARNING' | block
    say ""
else
    say "(Not root, or no mount namespaces: only the lock directory as it is was measured.)"
    say ""
fi

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
