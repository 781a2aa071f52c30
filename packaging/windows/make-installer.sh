#!/usr/bin/env bash
# Builds the Windows setup programs with NSIS from the install trees of both Windows builds:
#   [KIT_VERSION=a.b.c.d] make-installer.sh OUT_DIR [X86_TREE] [X64_TREE]
# OUT_DIR receives Keywarden-VERSION-setup.exe (what users get) and
# Keywarden-VERSION-devkit-setup.exe (adds the stand-ins of the outside components, for trying
# the kit on a software key). TARGET=amd64-unicode builds 64-bit setup programs instead (used by
# the tests on machines that cannot run 32-bit programs). KIT_VERSION overrides the version of
# CMakeLists.txt (the tests make an older build).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=$1
x86=$(cd "${2:-$root/dist/windows-x86}" && pwd)
x64=$(cd "${3:-$root/dist/windows}" && pwd)
version=${KIT_VERSION:-$(sed -n "s/^project(UKeyKit VERSION \([0-9.]*\).*/\1/p" "$root/CMakeLists.txt")}
[ -n "$version" ] || { echo "make-installer.sh: no version in CMakeLists.txt" >&2; exit 1; }
mkdir -p "$out"
out=$(cd "$out" && pwd)
suffix=${TARGET:+-${TARGET%%-*}}
common=(-V2 -DVERSION="$version" -DX86="$x86" -DX64="$x64" -DSOURCE="$root")
[ -n "${TARGET:-}" ] && common+=(-DTARGET="$TARGET")
(cd "$here" &&
    makensis "${common[@]}" -DOUTFILE="$out/Keywarden-$version$suffix-setup.exe" keywarden.nsi &&
    makensis "${common[@]}" -DDEVKIT -DOUTFILE="$out/Keywarden-$version$suffix-devkit-setup.exe" keywarden.nsi)
echo "$out/Keywarden-$version$suffix-setup.exe"
