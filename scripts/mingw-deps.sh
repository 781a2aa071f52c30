#!/usr/bin/env bash
# The libraries the Windows trees link that no Debian package gives for mingw-w64: pugixml
# (Sealform) and OpenSSL's libcrypto (the devkit stand-ins: SM2, SM3, SM4, PKCS#12). Both come
# from Debian's source packages and are built static, once per width, into a cache outside the
# build trees; a later run finds them there and neither fetches nor compiles anything.
#
#   scripts/mingw-deps.sh [x86] [x64]        (no argument: both widths)
#
# Cache: $KIT_MINGW_CACHE (default /var/cache/ukeykit/mingw) / i686 or x86_64 / include, lib.
# cmake/KitMingwDeps.cmake points the Windows trees there. Each library's stamp file holds its
# build recipe; a changed recipe builds that library again.
#
# Also Google Benchmark's source for the Windows build of Keywarden's benchmark: Debian's source
# package, unpacked once into /usr/src/benchmark (as GoogleTest's sits in /usr/src). Without it
# only that benchmark is left out.
#
# Before anything is fetched, scripts/deps.sh installs what the builds need and adds source
# entries (deb-src) in the form the system's package sources use; a failing apt-get update is
# reported and the download tried all the same.
set -euo pipefail

scripts=$(cd "$(dirname "$0")" && pwd)
cache=${KIT_MINGW_CACHE:-/var/cache/ukeykit/mingw}
jobs=${JOBS:-$(nproc)}

# Small libcrypto: static, no programs, tests, engines, loadable modules or assembler, and
# without the algorithms and interfaces the stand-ins never meet (DH, the deprecated low-level
# calls). Kept: EC (SM2), SM3, SM4, SHA-2, AES, DES, HMAC and PBKDF2 (PKCS#12), RSA, X.509.
# Compiled -O2 (Debian's level for its own libcrypto) instead of OpenSSL's -O3: the build is the
# longest step of a fresh set-up, -O2 compiles about a seventh faster, and the native and Wine runs
# of the same stand-ins stay comparable.
openssl_options="no-shared no-tests no-engine no-dso no-module no-asm no-legacy no-sock
    no-aria no-bf no-blake2 no-camellia no-cast no-chacha no-poly1305 no-cmp no-cms no-ct
    no-dh no-deprecated no-dsa no-ec2m no-gost no-idea no-md4 no-mdc2 no-ocb no-ocsp no-rc2
    no-rc4 no-rc5 no-rfc3779 no-rmd160 no-scrypt no-seed no-siphash no-siv no-srp no-srtp
    no-ts no-whirlpool no-comp -O2"
openssl_options=$(echo $openssl_options)
pugixml_options="-DBUILD_SHARED_LIBS=OFF -DPUGIXML_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=Release"

say() { echo "mingw-deps: $*"; }

# Downloads Debian's source of PACKAGE into the current folder: the candidate version first,
# then the other versions the archive lists (a security update's files may not be mirrored yet).
fetch_source() {
    local package=$1 version
    "$scripts/deps.sh" "mingw-$width" sources
    if apt-get source -q --download-only "$package" >/dev/null 2>&1; then
        return 0
    fi
    for version in $(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -r -V -u); do
        rm -f ./*
        if apt-get source -q --download-only "$package=$version" >/dev/null 2>&1; then
            return 0
        fi
    done
    echo "mingw-deps: cannot download the source package $package (is deb-src set up?)" >&2
    return 1
}

# Unpacks the upstream source of the downloaded package into ./src.
unpack_source() {
    local tarball
    tarball=$(ls ./*.orig.tar.gz ./*.orig.tar.xz ./*.orig.tar.bz2 2>/dev/null | head -1)
    mkdir src
    tar xf "$tarball" -C src --strip-components=1
}

build_pugixml() {
    local triple=$1 prefix=$2 work=$3
    (cd "$work" && fetch_source pugixml && unpack_source)
    local toolchain=$work/toolchain.cmake
    cat >"$toolchain" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER $triple-gcc-posix)
set(CMAKE_CXX_COMPILER $triple-g++-posix)
set(CMAKE_FIND_ROOT_PATH /usr/$triple)
EOF
    # shellcheck disable=SC2086
    cmake -S "$work/src" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib $pugixml_options >/dev/null
    nice cmake --build "$work/build" -j "$jobs" >/dev/null
    cmake --install "$work/build" >/dev/null
}

build_openssl() {
    local triple=$1 prefix=$2 work=$3 target
    case "$triple" in
        i686-*) target=mingw ;;
        *) target=mingw64 ;;
    esac
    (cd "$work" && fetch_source openssl && unpack_source)
    # shellcheck disable=SC2086
    (cd "$work/src" &&
        ./Configure "$target" --cross-compile-prefix="$triple-" --prefix="$prefix" \
            --libdir=lib $openssl_options >"$work/configure.log" 2>&1 &&
        nice make -j "$jobs" build_generated >"$work/build.log" 2>&1 &&
        nice make -j "$jobs" libcrypto.a >>"$work/build.log" 2>&1) || {
        echo "mingw-deps: OpenSSL for $triple did not build; the end of its log:" >&2
        tail -30 "$work/build.log" "$work/configure.log" >&2 2>/dev/null || true
        return 1
    }
    mkdir -p "$prefix/lib" "$prefix/include"
    cp "$work/src/libcrypto.a" "$prefix/lib/"
    rm -rf "$prefix/include/openssl"
    cp -r "$work/src/include/openssl" "$prefix/include/"
}

# ensure NAME TRIPLE RECIPE: builds NAME for TRIPLE unless its stamp holds RECIPE.
ensure() {
    local name=$1 triple=$2 recipe=$3
    local prefix=$cache/${triple%%-*}
    local stamp=$prefix/.$name.stamp
    if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$recipe" ]; then
        return 0
    fi
    mkdir -p "$prefix"
    local work start
    work=$(mktemp -d)
    start=$(date +%s)
    say "building $name for $triple into $prefix"
    if ! "build_$name" "$triple" "$prefix" "$work"; then
        rm -rf "$work"
        return 1
    fi
    rm -rf "$work"
    echo "$recipe" >"$stamp"
    say "$name for $triple built in $(($(date +%s) - start)) s"
}

# The benchmark's source, when it is not there yet; its absence only leaves that benchmark out.
ensure_benchmark_source() {
    [ -f /usr/src/benchmark/CMakeLists.txt ] && return 0
    local work log
    work=$(mktemp -d)
    log=$(mktemp)
    if (cd "$work" && fetch_source benchmark && unpack_source) 2>"$log"; then
        rm -rf /usr/src/benchmark
        mkdir -p /usr/src
        cp -r "$work/src" /usr/src/benchmark
    else
        say "Google Benchmark's source cannot be had ($(tail -n1 "$log")): Keywarden's benchmark is not built"
    fi
    rm -rf "$work" "$log"
}

widths=("$@")
[ ${#widths[@]} -gt 0 ] || widths=(x86 x64)
for width in "${widths[@]}"; do
    case "$width" in
        x86) triple=i686-w64-mingw32 ;;
        x64) triple=x86_64-w64-mingw32 ;;
        *) echo "mingw-deps.sh: unknown width '$width' (x86 or x64)" >&2; exit 2 ;;
    esac
    mkdir -p "$cache/${triple%%-*}"
    # One builder per width at a time: a second run for the same width waits for the first.
    (
        flock 9
        ensure pugixml "$triple" "pugixml $pugixml_options"
        ensure openssl "$triple" "openssl $openssl_options"
    ) 9>"$cache/${triple%%-*}/.lock"
done
(
    flock 9
    ensure_benchmark_source
) 9>"$cache/.benchmark.lock"
