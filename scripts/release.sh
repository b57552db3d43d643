#!/usr/bin/env bash
# Writes dist/ from the commit checked out: the Debian package, the Windows zip, the source
# tarball and SHA256SUMS over the three. Every date in them is the last commit's
# (SOURCE_DATE_EPOCH), so the same commit gives the same bytes wherever and whenever it is built;
# scripts/reproducible-check.sh proves it.
#
#   scripts/release.sh            (what `make release` runs, in the clone's top folder)
set -euo pipefail
cd "$(dirname "$0")/.."

say() { echo "release: $*"; }

version=$(sed -n 's/^project(ostrim VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[[ -n $version ]] || { echo "release: no project version in CMakeLists.txt" >&2; exit 1; }
[[ -z $(git status --porcelain --untracked-files=no) ]] ||
    say "warning: the tree has uncommitted changes; the tarball holds only what is committed"
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export SOURCE_DATE_EPOCH
# Tools that write local times (zip's member times among them) write the same ones everywhere.
export TZ=UTC LC_ALL=C.UTF-8
# CPack gives the package's folders, and the members of the .deb itself, the modes they get on
# disk: with the umask fixed here, the caller's umask cannot change them.
umask 022

# The package's build is `make package`'s own; the Windows build is one of its own, without the
# tests that `make windows` builds.
package_build=${PACKAGE_BUILD:-build-package}
windows_build=build-release-windows
dist=dist
rm -rf "$dist"
mkdir -p "$dist"

say "Debian package"
make --no-print-directory package PACKAGE_BUILD="$package_build" >/dev/null
cp "$package_build/ostrim_${version}"_*.deb "$dist/"

say "Windows zip"
make --no-print-directory windows WINDOWS_BUILD="$windows_build" \
    CMAKE_ARGS="${CMAKE_ARGS:-} -DBUILD_TESTING=OFF" >/dev/null
cp "$windows_build/ostrim-$version-windows-x64.zip" "$dist/"

say "source tarball"
# git archive gives each member the commit's time; gzip -n leaves out the name and time of its own.
git archive --format=tar --prefix="ostrim-$version/" HEAD | gzip -9 -n >"$dist/ostrim-$version.tar.gz"

(cd "$dist" && sha256sum -- *.deb *.zip *.tar.gz >SHA256SUMS && sha256sum --quiet -c SHA256SUMS)
ls -l "$dist"
