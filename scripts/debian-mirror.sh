# shellcheck shell=bash
# The Debian mirror that debootstrap fetches from, for scripts/clean-room.sh and
# scripts/package-check.sh, which source this file: $OSTRIM_DEBIAN_MIRROR where it is set, and
# otherwise the mirror this machine's apt already uses, so that the repository names no package
# host of its own and a machine behind a local mirror or proxy keeps to it.
#
#   debian_mirror [APT_FOLDER]    (default: /etc/apt)
#
# Prints the URI of the first Debian archive among the sources apt reads, in apt's order:
# sources.list, then the files in sources.list.d, one-line *.list and deb822 *.sources, by name.
# A Debian archive is a "deb" source (not deb-src, not disabled) with the component main whose
# path ends in /debian: that leaves out the security archive (/debian-security), snapshots (a
# date last) and other vendors' archives for Debian (their own components). Fails with a message
# where there is none.

debian_mirror() {
    local apt=${1:-/etc/apt}
    if [[ -n ${OSTRIM_DEBIAN_MIRROR:-} ]]; then
        echo "$OSTRIM_DEBIAN_MIRROR"
        return 0
    fi
    local files=() file mirror
    [[ -f $apt/sources.list ]] && files+=("$apt/sources.list")
    for file in "$apt"/sources.list.d/*; do
        [[ -f $file && ($file == *.list || $file == *.sources) ]] && files+=("$file")
    done
    for file in "${files[@]}"; do
        if [[ $file == *.sources ]]; then
            mirror=$(debian_mirror_deb822 <"$file")
        else
            mirror=$(debian_mirror_one_line <"$file")
        fi
        if [[ -n $mirror ]]; then
            echo "${mirror%/}"
            return 0
        fi
    done
    local caller=${0##*/}
    echo "${caller%.sh}: no Debian archive among the apt sources in $apt (a \"deb\" source of" \
        "the component main whose path ends in /debian) for debootstrap to fetch from; set" \
        "OSTRIM_DEBIAN_MIRROR to a Debian mirror's URI" >&2
    return 1
}

# Whether a source is a Debian archive: its URI and its components, as above.
debian_mirror_fits() {
    local uri=$1
    shift
    [[ ${uri%/} == */debian ]] || return 1
    local component
    for component in "$@"; do
        [[ $component == main ]] && return 0
    done
    return 1
}

# "deb [option=value ...] URI SUITE COMPONENT...", one source a line, # to the end a comment.
debian_mirror_one_line() {
    local line words
    while IFS= read -r line || [[ -n $line ]]; do
        line=${line%%#*}
        # The options in brackets may hold blanks; they say nothing about the archive itself.
        [[ $line =~ ^[[:space:]]*deb[[:space:]]+(\[[^]]*\][[:space:]]*)?(.*)$ ]] || continue
        read -r -a words <<<"${BASH_REMATCH[2]}"
        ((${#words[@]} >= 3)) || continue
        if debian_mirror_fits "${words[0]}" "${words[@]:2}"; then
            echo "${words[0]}"
            return 0
        fi
    done
    return 0
}

# Stanzas of "Field: value" lines apart by blank lines; a line that starts with a blank continues
# the field before it, and one that starts with # is a comment. Names of fields ignore case.
debian_mirror_deb822() {
    local lines line field='' types='' uris='' components='' enabled=yes
    mapfile -t lines
    # A blank line after the last ends its stanza too.
    for line in "${lines[@]}" ''; do
        [[ $line == \#* ]] && continue
        if [[ -z ${line//[[:space:]]/} ]]; then
            debian_mirror_stanza "$types" "$uris" "$components" "$enabled" && return 0
            field='' types='' uris='' components='' enabled=yes
            continue
        fi
        if [[ $line != [[:space:]]* ]]; then
            field=${line%%:*}
            field=${field,,}
            line=${line#*:}
        fi
        case $field in
            types) types+=" $line" ;;
            uris) uris+=" $line" ;;
            components) components+=" $line" ;;
            enabled) enabled=${line//[[:space:]]/} ;;
        esac
    done
    return 0
}

# Prints the first URI of a deb822 stanza that is a Debian archive, if any: TYPES URIS COMPONENTS
# ENABLED, each as the stanza wrote it.
debian_mirror_stanza() {
    local types uris components uri
    read -r -a types <<<"$1"
    read -r -a uris <<<"$2"
    read -r -a components <<<"$3"
    [[ ${4,,} != no && " ${types[*]} " == *" deb "* ]] || return 1
    for uri in "${uris[@]}"; do
        if debian_mirror_fits "$uri" "${components[@]}"; then
            echo "$uri"
            return 0
        fi
    done
    return 1
}
