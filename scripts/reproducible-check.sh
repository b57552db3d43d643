#!/usr/bin/env bash
# Builds the release of the commit checked out twice, from two fresh clones in folders of
# different names, the second later and under another umask, and compares what it ships byte for
# byte: the Debian package, the Windows zip and each program inside it, and the source tarball.
# Says what differs (with diffoscope where installed) and fails if anything does.
#
#   scripts/reproducible-check.sh     (what `make reproducible-check` runs)
#
# Work goes to $OSTRIM_REPRO_DIR (a new folder under /tmp); it is removed when all is the same.
set -euo pipefail
top=$(git -C "$(dirname "$0")/.." rev-parse --show-toplevel)
commit=$(git -C "$top" rev-parse HEAD)
work=${OSTRIM_REPRO_DIR:-$(mktemp -d /tmp/ostrim-reproducible.XXXXXX)}

say() { echo "reproducible-check: $*"; }
[[ -z $(git -C "$top" status --porcelain --untracked-files=no) ]] ||
    say "warning: uncommitted changes are not built; this checks commit ${commit:0:12}"

# build FOLDER UMASK: a fresh clone of the commit and its release, both made under that umask.
build() {
    local dir=$work/$1
    say "building ${commit:0:12} in $dir with umask $2"
    (umask "$2" && git clone -q --no-checkout "$top" "$dir" &&
        git -C "$dir" checkout -q --detach "$commit" &&
        make -C "$dir" --no-print-directory release >"$dir.log" 2>&1) ||
        { tail -30 "$dir.log" >&2; say "the release failed in $dir (log: $dir.log)"; exit 1; }
}

start=$(date +%s)
build first 022
build second-clone-built-later 077
say "built twice in $(($(date +%s) - start)) s"

first=$work/first/dist
second=$work/second-clone-built-later/dist

# explain A B NAME: what differs between two files that should be the same.
explain() {
    if command -v diffoscope >/dev/null; then
        diffoscope --no-progress --max-report-size 200000 "$1" "$2" | head -80 || true
    else
        cmp "$1" "$2" | head -1 || true
    fi
}

differ=0
compare() {
    if cmp -s "$1" "$2"; then
        say "same: $3"
    else
        say "DIFFERENT: $3"
        explain "$1" "$2"
        differ=1
    fi
}

for file in "$first"/*; do
    name=$(basename "$file")
    compare "$file" "$second/$name" "$name"
done
# Each program inside the zip, so that a difference is named by its member even without
# diffoscope.
mkdir -p "$work/unzipped/first" "$work/unzipped/second"
for zip in "$first"/*.zip; do
    unzip -q -o "$zip" -d "$work/unzipped/first"
    unzip -q -o "$second/$(basename "$zip")" -d "$work/unzipped/second"
done
while read -r program; do
    member=${program#"$work/unzipped/first/"}
    compare "$program" "$work/unzipped/second/$member" "$member in the zip"
done < <(find "$work/unzipped/first" -type f \( -name '*.exe' -o -name '*.com' \) | sort)

if [[ $differ -ne 0 ]]; then
    say "the two builds differ; both are kept in $work"
    exit 1
fi
say "both builds gave the same bytes ($(($(date +%s) - start)) s in all)"
rm -rf "$work"
