#!/usr/bin/env bash
# Proves README's two commands from nothing: in a minimal Debian made by debootstrap, with only
# make, git, ca-certificates and sudo added, an ordinary user with sudo rights clones this
# repository's HEAD, runs `make run` (which must install only what the program needs, start it
# and keep it running, with nothing on its error output) and then `make test` (which must install
# the rest itself and pass); in Debian 12, `make windows` too. Each step says how many packages it
# installed and how much it downloaded.
#
#   scripts/clean-room.sh [PASS...]    PASS: bookworm, trixie, bookworm-benchmark (default: all)
#
# bookworm-benchmark is Debian 12 with Google Benchmark's development package installed first, as
# the machines this project is developed on have it. Each minimal system is made once and cached
# as a tarball in $OSTRIM_DEBOOTSTRAP_CACHE (/var/cache/ostrim-debootstrap), then unpacked afresh
# for every pass, so no pass sees what an earlier one left. Logs go to build-clean-room/. Needs
# root, for debootstrap, chroot and a private mount namespace.
set -euo pipefail

repo=$(git -C "$(dirname "$0")/.." rev-parse --show-toplevel)
cache=${OSTRIM_DEBOOTSTRAP_CACHE:-/var/cache/ostrim-debootstrap}
logs=$repo/build-clean-room
user=builder

say() { echo "clean-room: $*"; }
fail() { echo "clean-room: $*" >&2; exit 1; }

# debootstrap's mirror: $OSTRIM_DEBIAN_MIRROR, or the one this machine's apt uses.
# shellcheck source=scripts/debian-mirror.sh
source "$repo/scripts/debian-mirror.sh"
mirror=$(debian_mirror) || exit 1

seconds_since() { echo $((SECONDS - $1)); }

# Serial devices a clean room must never reach: the host's own console among them.
serial_nodes() { find "$1/dev" -maxdepth 1 \( -name 'ttyS[0-9]*' -o -name 'ttyUSB[0-9]*' \
    -o -name 'ttyACM[0-9]*' -o -name 'ttyAMA[0-9]*' \) 2>/dev/null; }

# The program running inside the root, if it has started.
program_in() {
    local pid
    for pid in $(pgrep -x ostrim); do
        [[ $(readlink "/proc/$pid/root") == "$1" ]] && { echo "$pid"; return 0; }
    done
    return 1
}

# Everything below runs inside `unshare -m`: the mounts made here vanish with the namespace.
inside() {
    local root=$1 pass=$2 home=/home/$user
    mount -t proc proc "$root/proc"
    mount --rbind /sys "$root/sys"
    mount --rbind /dev "$root/dev"
    local node
    for node in $(serial_nodes "$root"); do
        mount --bind /dev/null "$node"
    done
    for node in $(serial_nodes "$root"); do
        [[ $(stat -c %t:%T "$node") == "$(stat -c %t:%T /dev/null)" ]] ||
            fail "$node is still a serial device inside the clean room"
    done

    as_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
        LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"; }
    # As a new user runs it: an ordinary login with sudo rights, in a desktop-like session. The
    # network test presses a few times only: its count of hundreds is the host's `make test`.
    as_user() { chroot "$root" /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$home" \
        USER=$user LOGNAME=$user LANG=C.UTF-8 XDG_RUNTIME_DIR=/run/user/1000 \
        OSTRIM_NETWORK_PRESSES=30 /usr/sbin/runuser -u "$user" -- bash -c "cd ~/ostrim && $1"; }
    installed() { as_root dpkg-query -W -f '${Status}\n' | grep -c 'install ok installed'; }
    downloaded() { as_root sh -c 'cat /var/cache/apt/archives/*.deb 2>/dev/null | wc -c'; }

    local start
    if [[ $pass == bookworm-benchmark ]]; then
        start=$SECONDS
        { as_root apt-get update -qq && as_root apt-get install -y -qq libbenchmark-dev; } \
            >"$logs/$pass-benchmark.log" 2>&1 || { tail -30 "$logs/$pass-benchmark.log"; \
            fail "$pass: could not install libbenchmark-dev"; }
        say "$pass: libbenchmark-dev installed first ($(seconds_since "$start") s)"
    fi

    # What a step installed since the figures were taken.
    local packages bytes
    take_figures() { packages=$(installed); bytes=$(downloaded); }
    installed_since() {
        echo "$(($(installed) - packages)) packages installed," \
            "$((($(downloaded) - bytes) / 1048576)) MiB downloaded"
    }
    # A make target as the user runs it, with its time and what it installed.
    measured_make() {
        local target=$1 log=$logs/$pass-make-$1.log start=$SECONDS
        take_figures
        if ! as_user "make $target" >"$log" 2>&1; then
            tail -60 "$log"
            fail "$pass: make $target failed (whole log: $log)"
        fi
        say "$pass: make $target passed in $(seconds_since "$start") s; $(installed_since)"
    }

    # The program must come up and stay up; the offscreen platform stands in for a display.
    start=$SECONDS
    take_figures
    as_user 'QT_QPA_PLATFORM=offscreen exec make run' >"$logs/$pass-make-run.log" \
        2>"$logs/$pass-make-run.err" &
    local make_pid=$! program waited=0
    until program=$(program_in "$root"); do
        kill -0 "$make_pid" 2>/dev/null || { cat "$logs/$pass-make-run.err"; \
            fail "$pass: make run ended before the program started"; }
        ((waited++ < 3600)) || fail "$pass: the program did not start within 30 minutes"
        sleep 0.5
    done
    sleep 2
    kill -0 "$program" 2>/dev/null || { cat "$logs/$pass-make-run.err"; \
        fail "$pass: the program ended within two seconds of starting"; }
    # A chroot has no init system for the services' scripts, and apt's download user may not reach
    # the unpacked root's cache: notes a real system does not give, and nothing of ours.
    local errors
    errors=$(grep -v -e '^invoke-rc.d: ' -e '^W: Download is performed unsandboxed' \
        "$logs/$pass-make-run.err" || true)
    [[ -z $errors ]] || { echo "$errors"; fail "$pass: make run wrote to its error output"; }
    kill "$program"
    wait "$make_pid" 2>/dev/null || true
    say "$pass: make run started the program, still running after 2 s," \
        "nothing on its error output ($(seconds_since "$start") s); $(installed_since)"
    grep '^install-deps:' "$logs/$pass-make-run.log" | sed "s/^/clean-room: $pass:   /"

    measured_make test
    grep -E 'tests passed|left out' "$logs/$pass-make-test.log" | sed "s/^/clean-room: $pass:   /"

    # The Windows build from the same set-up, once: its own tests need root, for Wine's sandbox.
    [[ $pass != bookworm ]] || measured_make windows
}

if [[ ${1:-} == --inside ]]; then
    inside "$2" "$3"
    exit
fi

[[ $(id -u) -eq 0 ]] || fail "needs root, for debootstrap, chroot and unshare"
command -v debootstrap >/dev/null || fail "needs debootstrap (scripts/install-deps.sh package)"
passes=("$@")
[[ ${#passes[@]} -gt 0 ]] || passes=(bookworm trixie bookworm-benchmark)
mkdir -p "$cache" "$logs"

# The minimal system of a suite, made once and kept as a tarball.
tarball() {
    local suite=$1 archive=$cache/clean-room-$1.tar
    if [[ ! -s $archive ]]; then
        local start=$SECONDS dir
        dir=$(mktemp -d /var/tmp/ostrim-debootstrap.XXXXXX)
        debootstrap --variant=minbase --include=make,git,ca-certificates,sudo \
            "$suite" "$dir" "$mirror" >"$logs/debootstrap-$suite.log" 2>&1 ||
            { tail -20 "$logs/debootstrap-$suite.log" >&2; rm -rf "$dir"; \
              fail "debootstrap $suite failed"; }
        tar -C "$dir" -cf "$archive.partial" . && mv "$archive.partial" "$archive"
        rm -rf --one-file-system "$dir"
        say "$suite: minimal system made and cached in $archive ($(seconds_since "$start") s)" >&2
    fi
    echo "$archive"
}

total=$SECONDS
for pass in "${passes[@]}"; do
    case $pass in
        bookworm | bookworm-benchmark) suite=bookworm ;;
        trixie) suite=trixie ;;
        *) fail "unknown pass $pass (bookworm, trixie, bookworm-benchmark)" ;;
    esac
    start=$SECONDS
    archive=$(tarball "$suite")
    root=$(mktemp -d /var/tmp/ostrim-clean-room.XXXXXX)
    trap 'rm -rf --one-file-system "$root"' EXIT
    tar -C "$root" -xpf "$archive"
    chmod 0755 "$root"
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    grep -q "$(hostname)" "$root/etc/hosts" 2>/dev/null || echo "127.0.1.1 $(hostname)" >>"$root/etc/hosts"
    chroot "$root" useradd --create-home --uid 1000 --shell /bin/bash "$user"
    echo "$user ALL=(ALL) NOPASSWD: ALL" >"$root/etc/sudoers.d/$user"
    chmod 0440 "$root/etc/sudoers.d/$user"
    install -d -m 0700 -o 1000 -g 1000 "$root/run/user/1000"
    git clone -q --no-local "$repo" "$root/home/$user/ostrim"
    chown -R 1000:1000 "$root/home/$user/ostrim"
    say "$pass: fresh root from $(basename "$archive"), clone of $(git -C "$repo" rev-parse --short HEAD)" \
        "($(seconds_since "$start") s)"
    status=0
    unshare -m --propagation private bash "$0" --inside "$root" "$pass" || status=$?
    rm -rf --one-file-system "$root"
    [[ $status -eq 0 ]] || fail "$pass failed"
done
say "all passes passed in $(seconds_since "$total") s"
