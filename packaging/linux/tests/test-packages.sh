#!/usr/bin/env bash
# Checks the Debian packages of `make package` the way a Linux host's developer meets them:
#   test-packages.sh PACKAGE_DIR SEALHOST_SOURCE
# 1. lintian reports no error on any package;
# 2. all packages install into an empty root (dpkg --root, nothing touches this system);
# 3. the libraries, headers, pkg-config files, CMake package file, tools and manual pages are
#    where Debian puts them, and each package depends on the packages that ship the libraries
#    its programs and libraries link (a virtual package counts when a package Provides it);
# 4. a C host builds against the root with nothing but `pkg-config --cflags --libs sealgate
#    sealform` and reads the seal of a software key made with the packaged tools;
# 5. a CMake project finds the libraries with find_package(SealKit);
# 6. purging the packages leaves no file in the root.
set -euo pipefail
packages=$(cd "$1" && pwd)
host_source=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
debs=("$packages"/*.deb)
[ -f "${debs[0]}" ] || fail "no package in $packages"
echo "packages: $(cd "$packages" && echo *.deb)"

# 1. lintian: errors fail, warnings are shown.
lintian --fail-on error --suppress-tags-from-file /dev/null "${debs[@]}" >"$work/lintian.txt" 2>&1 ||
    { cat "$work/lintian.txt"; fail "lintian reports errors"; }
grep -q '^E:' "$work/lintian.txt" && { cat "$work/lintian.txt"; fail "lintian reports errors"; }
echo "lintian: no error ($(grep -c '^W:' "$work/lintian.txt" || true) warnings)"

# 2. An empty root with a dpkg database of its own. The system's libraries (libc, OpenSSL,
# libcurl, pugixml) are not in it, hence --force-depends.
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg_root() { dpkg --root="$root" --log=/dev/null --force-depends --force-script-chrootless "$@"; }
dpkg_root -i "${debs[@]}" >"$work/dpkg.txt" 2>&1 || { cat "$work/dpkg.txt"; fail "dpkg -i"; }
names=$(for deb in "${debs[@]}"; do dpkg-deb -f "$deb" Package; done)

# 3. Files where Debian keeps them.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
lib=$root/usr/lib/$multiarch
for f in "$lib/libSealform.so" "$lib/libSealgate.so" "$lib/libUKeyDriver.so" \
         "$lib/libsignaturemodule.so" "$lib/libCertificateSDK.so" \
         "$lib/libSecureModelCollection.so" "$lib/libRZLog.so" \
         "$root/usr/include/sealform.h" "$root/usr/include/sealgate.h" \
         "$lib/pkgconfig/sealform.pc" "$lib/pkgconfig/sealgate.pc" \
         "$lib/cmake/SealKit/SealKitConfig.cmake" "$lib/cmake/SealKit/SealKitConfigVersion.cmake" \
         "$root/usr/bin/sealtool" "$root/usr/bin/softkey" "$root/usr/bin/sealregistry" \
         "$root/usr/share/man/man1/sealtool.1.gz" "$root/usr/share/man/man1/softkey.1.gz" \
         "$root/usr/share/man/man1/sealregistry.1.gz"; do
    [ -f "$f" ] || fail "missing ${f#"$root"}"
done
for name in $names; do
    [ -f "$root/usr/share/doc/$name/copyright" ] || fail "$name has no copyright file"
done
# No search path of its own in any packaged program or library.
if readelf -d "$lib"/*.so "$root"/usr/bin/* | grep -q 'RPATH\|RUNPATH'; then
    fail "a packaged file carries a library search path"
fi
echo "install: files in place"

# Every library a packaged program or library links, when one of these packages ships it, must
# come through Depends: the root was installed with --force-depends, which would hide a missing
# one. owners: "FILE PACKAGE" for each shipped library; provides: "PACKAGE NAME..." lines.
owners=$work/owners
: >"$owners"
for deb in "${debs[@]}"; do
    name=$(dpkg-deb -f "$deb" Package)
    dpkg-deb -c "$deb" | awk -v p="$name" '$NF ~ /\.so(\.[0-9]+)*$/ { n = split($NF, a, "/"); print a[n], p }' >>"$owners"
done
for deb in "${debs[@]}"; do
    name=$(dpkg-deb -f "$deb" Package)
    # The names this package's Depends can be met by, alternatives and versions dropped.
    met=" $(dpkg-deb -f "$deb" Depends | tr ',|' '\n\n' | sed 's/(.*//; s/ //g' | grep -v '^$' | tr '\n' ' ')"
    for f in $(dpkg-deb -c "$deb" | awk '{ print $NF }' | sed 's|^\./||'); do
        [ -f "$root/$f" ] && [ ! -L "$root/$f" ] && head -c4 "$root/$f" | grep -q 'ELF' || continue
        for needed in $(readelf -d "$root/$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
            owner=$(awk -v l="$needed" '$1 == l { print $2; exit }' "$owners")
            [ -n "$owner" ] && [ "$owner" != "$name" ] || continue
            ok=0
            for candidate in $owner $(for d in "${debs[@]}"; do
                    [ "$(dpkg-deb -f "$d" Package)" = "$owner" ] && dpkg-deb -f "$d" Provides; done | tr ',' ' '); do
                case "$met" in *" $candidate "*) ok=1 ;; esac
            done
            [ "$ok" = 1 ] || fail "$name: /$f links $needed from $owner, but Depends ($met) does not name it"
        done
    done
done
echo "dependencies: every linked library of these packages comes through Depends"

# 4. A C host built with pkg-config alone, against the root. The root is not the system, so its
# /usr/include and library folder must not be dropped as system folders, and the linker and
# loader find the libraries' own dependencies (the signer module) there through
# LD_LIBRARY_PATH, as they find them in /usr/lib on an installed system.
export LD_LIBRARY_PATH=$lib
export PKG_CONFIG_SYSROOT_DIR=$root PKG_CONFIG_LIBDIR=$lib/pkgconfig
export PKG_CONFIG_ALLOW_SYSTEM_CFLAGS=1 PKG_CONFIG_ALLOW_SYSTEM_LIBS=1
flags=$(pkg-config --cflags --libs sealgate sealform)
echo "pkg-config --cflags --libs sealgate sealform: $flags"
cc -std=c99 -Wall -Wextra -o "$work/sealhost" "$host_source" $flags ||
    fail "the C host does not build with pkg-config's flags"
unset PKG_CONFIG_SYSROOT_DIR PKG_CONFIG_LIBDIR

# The packaged tools make a seal and a software key that holds it; the host lists it.
export SOFTKEY_STORE=$work/store SOFTKEY_NOTIFY=none
"$root/usr/bin/sealtool" demo-material "$work/material" >/dev/null
"$root/usr/bin/sealtool" make "$work/material/sealparams.xml" -o "$work/seal.der" >/dev/null
"$root/usr/bin/softkey" create PKG00001 --rsa 0 --sm2 1 >/dev/null
"$root/usr/bin/softkey" add-seal PKG00001 "$work/seal.der" >/dev/null
"$work/sealhost" list >"$work/host.txt" 2>&1 || { cat "$work/host.txt"; fail "sealhost list"; }
grep -q '^seals on the key: 1$' "$work/host.txt" || { cat "$work/host.txt"; fail "the host sees no seal"; }
grep -q '^  stored as [0-9]* characters of Base64$' "$work/host.txt" ||
    { cat "$work/host.txt"; fail "the host cannot read the seal"; }
"$root/usr/bin/sealtool" --help | grep -q demo-material || fail "sealtool --help"
echo "C host: built with pkg-config only, reads the key's seal"

# 5. The CMake package file.
mkdir -p "$work/cmake-host"
cat >"$work/cmake-host/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.20)
project(host C)
find_package(SealKit REQUIRED)
add_executable(sealhost "$host_source")
target_link_libraries(sealhost PRIVATE SealKit::Sealgate SealKit::Sealform)
CMAKE
(cd "$work/cmake-host" && cmake -S . -B build -DCMAKE_PREFIX_PATH="$root/usr" >/dev/null &&
    cmake --build build >/dev/null) || fail "find_package(SealKit) does not build the host"
"$work/cmake-host/build/sealhost" list | grep -q '^seals on the key: 1$' || fail "CMake-built host"
echo "CMake: find_package(SealKit) builds the host"
unset LD_LIBRARY_PATH

# 6. Purge leaves nothing but dpkg's own database.
# shellcheck disable=SC2086
dpkg_root --purge $names >"$work/dpkg.txt" 2>&1 || { cat "$work/dpkg.txt"; fail "dpkg --purge"; }
left=$(cd "$root" && find . -path ./var/lib/dpkg -prune -o ! -type d -print)
[ -z "$left" ] || fail "files left after purge: $left"
left=$(cd "$root" && find . -path ./var -prune -o -mindepth 1 -type d -print)
[ -z "$left" ] || fail "folders left after purge: $left"
echo "purge: nothing left"
echo "PASS: Debian packages"
