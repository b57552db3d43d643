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
        -v y="$(figure pyserial_median_us)" -v tf="$(figure turns_press_per_floor)" \
        -v tc="$(figure turns_press_per_claiming)" -v ts="$(figure turns_same_calls_per_floor)" \
        'BEGIN { printf "| %s | %.1f | %.1f | %.1f | %.2f | %.2f | %.2f | %.2f | %.2f |", t, p, f, y, p / f, tf, ts, tc, p / y }')")
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
    echo "| Lock directory | Press | Termios floor | pyserial | Press / floor | In turns: press / floor | In turns: the press's calls by hand / floor | In turns: press / claiming floor | Press / pyserial |"
    echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|"
    printf '%s\n' "${rows[@]}"
} | tee -a "$report"
say ""

# One press over rfc2217:// and one over socket:// to ser2net on 127.0.0.1: the network line
# beside pyserial's own clients, against the same servers in one run.
say "## One press over rfc2217:// and socket:// to ser2net on 127.0.0.1, $runs presses each"
if command -v ser2net >/dev/null || [ -x /usr/sbin/ser2net ]; then
    "$python" "$(dirname "$pyserial")/network_press.py" "$bench/network_press" "$runs" \
        >"$bench/network.txt" 2>&1 || true
    grep -v '^figure ' "$bench/network.txt" | block
    network() { sed -n "s/^figure $1 //p" "$bench/network.txt"; }
    say ""
    {
        echo "| Client | Scheme | Median µs | Mean µs |"
        echo "|---|---|---:|---:|"
        for scheme in rfc2217 socket; do
            for client in ostrim pyserial; do
                echo "| $client | $scheme:// | $(network ${client}_${scheme}_median_us) |" \
                    "$(network ${client}_${scheme}_mean_us) |"
            done
        done
    } | tee -a "$report"
else
    say "Skipped: ser2net is not installed (scripts/install-deps.sh)."
fi
say ""

# Many presses: the soak test's ratio of processor time per press, end against start.
soak_actions=${OSTRIM_BENCH_SOAK_ACTIONS:-20000}
# The lock directory in memory where it can be, as most desktops have it.
soak=("$build/tests/soak/tst_soak")
where="lock directory as this machine has it"
if [[ $(id -u) -eq 0 ]] && unshare -m true 2>/dev/null; then
    # shellcheck disable=SC2016
    soak=(unshare -m sh -c 'mount -t tmpfs -o size=1m tmpfs /run/lock && exec "$0"' "${soak[@]}")
    where="lock directory in memory"
fi
say "## Soak, $soak_actions presses on a pseudo-terminal, $where"
if OSTRIM_SOAK_ACTIONS=$soak_actions "${soak[@]}" >"$bench/soak.txt" 2>&1; then
    # The figures, without the test framework's own lines.
    grep -v -e '^\[doctest\]' -e '^=*$' "$bench/soak.txt" | block
else
    say "tst_soak failed:"
    block <"$bench/soak.txt"
fi
say ""

# Start-up, as whole processes on a virtual X server, each window in a session of its own as a
# desktop would give it: a session bus (dbus-run-session, so that no bus is autolaunched and left
# behind) and, as every run of the program must, the machine's console port hidden.
ostrim=$build/ostrim
if [[ ! -x $ostrim ]]; then
    say "## Start-up: skipped, $ostrim has not been built"
    exit 0
fi
if [[ $(id -u) -ne 0 ]] || ! unshare -m true 2>/dev/null; then
    say "## Start-up: skipped, hiding /dev/ttyS0 needs root and mount namespaces"
    exit 0
fi
startup_runs=${OSTRIM_STARTUP_RUNS:-$runs}
say "## Start-up to the first painted frame, under xvfb-run ($startup_runs runs each)"
buses_before=$(pgrep -c -x dbus-daemon || true)
# The four windows take turns, so that a stretch of load from elsewhere falls on all of them.
# shellcheck disable=SC2016
unshare -m sh -c '
    if [ -e /dev/ttyS0 ]; then mount --bind /dev/null /dev/ttyS0 || exit 1; fi
    exec xvfb-run -a bash -c "$0" startup "$@"' '
    set -e
    bench=$1 ostrim=$2 runs=$3
    # Now and then the X server turns a connection away on a loaded machine: up to three tries.
    probe() {
        for _ in 1 2 3; do
            dbus-run-session -- "$bench/startup_probe" "$@" 2>>"$bench/startup-errors.txt" && return 0
        done
        return 1
    }
    : >"$bench/startup-errors.txt"
    size=$(probe "$ostrim" | sed -n "s/.* size=\([0-9x]*\).*/\1/p")
    echo "$size" >"$bench/startup-size.txt"
    for name in ostrim controls_window label_window empty_window; do : >"$bench/startup-$name.txt"; done
    for _ in $(seq "$runs"); do
        probe "$ostrim" >>"$bench/startup-ostrim.txt" || true
        probe "$bench/controls_window" "$size" >>"$bench/startup-controls_window.txt" || true
        probe "$bench/label_window" >>"$bench/startup-label_window.txt" || true
        probe "$bench/empty_window" >>"$bench/startup-empty_window.txt" || true
    done' "$bench" "$ostrim" "$startup_runs"
# dbus-run-session ends its bus as the window ends; the last one may take a moment to go.
for _ in $(seq 50); do
    buses_after=$(pgrep -c -x dbus-daemon || true)
    [[ $buses_after -le $buses_before ]] && break
    sleep 0.2
done

median() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p" "$2" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
row() { # name, file
    printf '%s %s %s %s %s\n' "$1" "$(median painted_ms "$2")" "$(median cpu_ms "$2")" \
        "$(median peak_rss_kib "$2")" "$(wc -l <"$2")"
}
{
    row ostrim "$bench/startup-ostrim.txt"
    row peer "$bench/startup-controls_window.txt"
    row caption "$bench/startup-label_window.txt"
    row empty "$bench/startup-empty_window.txt"
} >"$bench/startup-medians.txt"
say ""
say "Medians, from process start to the first painted frame of the first window (startup_probe):" \
    "the time on the clock, the processor time the program used (user and system), and peak" \
    "resident memory until then. ostrim's window is $(cat "$bench/startup-size.txt");" \
    "bench/controls_window shows the same nine controls at that size."
say ""
awk 'BEGIN {
        label["ostrim"] = "ostrim"; label["peer"] = "same nine controls, same size"
        label["caption"] = "window with one caption"; label["empty"] = "empty Qt window"
    }
    { ms[$1] = $2; cpu[$1] = $3; kib[$1] = $4; n[$1] = $5; order[NR] = $1 }
    END {
        printf "| Window | Runs | First frame | Processor time | Peak memory |"
        printf " ostrim / it: first frame | processor time | memory |\n"
        printf "|---|---:|---:|---:|---:|---:|---:|---:|\n"
        for (i = 1; i <= NR; ++i) {
            k = order[i]
            printf "| %s | %d | %.1f ms | %.1f ms | %.1f MiB |", label[k], n[k], ms[k], cpu[k], kib[k] / 1024
            if (k == "ostrim")
                printf " | | |\n"
            else
                printf " %.2f | %.2f | %.3f |\n", ms["ostrim"] / ms[k], cpu["ostrim"] / cpu[k],
                    kib["ostrim"] / kib[k]
        }
    }' "$bench/startup-medians.txt" | tee -a "$report"
say ""
say "dbus-daemon processes: $buses_before before the start-up runs, $buses_after after."
