#!/usr/bin/env bash
# Installs the Debian packages a make target needs, and only when some are missing
# (no apt-get update when everything is already there).
#   scripts/deps.sh native|windows|demo|package|installer|fuzz ...
set -euo pipefail

native="cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev asn1c libpugixml-dev
        libssl-dev openssl libcurl4-openssl-dev libstb-dev libxml2-utils
        libxml2-dev python3"
# wine32:i386 is the 32-bit loader that runs the i686 build (it needs dpkg's i386 architecture).
windows="mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 wine32:i386 xvfb xauth
         fonts-wqy-microhei x11-apps imagemagick"
# Debian packages: dpkg-shlibdeps (dpkg-dev) for their dependencies, lintian to check them.
package="dpkg-dev lintian"

wanted=""
for target in "$@"; do
    case "$target" in
        native) wanted="$wanted $native" ;;
        windows) wanted="$wanted $windows" ;;
        demo) wanted="$wanted $native" ;;
        package) wanted="$wanted $package" ;;
        installer) wanted="$wanted nsis" ;;
        # libFuzzer and the sanitizers' run-times come with clang's run-time package.
        fuzz) wanted="$wanted clang libclang-rt-14-dev" ;;
        *) echo "deps.sh: unknown target '$target'" >&2; exit 2 ;;
    esac
done

missing=""
for pkg in $wanted; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    case "$status" in
        *"install ok installed"*) ;;
        *) missing="$missing $pkg" ;;
    esac
done

if [ -n "$missing" ]; then
    echo "Installing:$missing"
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
    if [[ "$missing" == *":i386"* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo_cmd dpkg --add-architecture i386
    fi
    $sudo_cmd apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q $missing
fi

# Google Benchmark for the mingw build of Keywarden's benchmark: Debian's source package of the
# installed libbenchmark-dev, unpacked to /usr/src/benchmark (as googletest sits in /usr/src).
if [[ " $* " == *" windows "* ]] && [ ! -f /usr/src/benchmark/CMakeLists.txt ]; then
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
    if ! grep -rqs "deb-src" /etc/apt/sources.list /etc/apt/sources.list.d/; then
        sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
            $sudo_cmd tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
        $sudo_cmd apt-get update -q
    fi
    tmp=$(mktemp -d)
    # Only the benchmark needs it: when the source cannot be had, the build goes on without it.
    (cd "$tmp" && apt-get source -q --download-only benchmark >/dev/null &&
        tar xzf benchmark_*.orig.tar.gz && $sudo_cmd rm -rf /usr/src/benchmark &&
        $sudo_cmd cp -r benchmark-*/ /usr/src/benchmark) ||
        echo "deps.sh: Google Benchmark source not available; Keywarden's benchmark is not built" >&2
    rm -rf "$tmp"
fi
