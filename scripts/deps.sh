#!/usr/bin/env bash
# Installs the Debian packages a make target needs, and only when some are missing
# (no apt-get update when everything is already there).
#   scripts/deps.sh native|windows|demo|package|installer|fuzz|sources ...
#
# "sources" adds the source entries `apt-get source` needs (deb-src), in the form the system's
# package sources are written in: deb822 stanzas beside deb822 files, one-line entries beside
# /etc/apt/sources.list and .list files. Nothing is added when a source entry is already there.
#
# A failing `apt-get update` (a mirror with one index out of step) is reported in one line and
# the install is tried all the same. A package that still cannot be installed fails with its
# name, except the 32-bit Wine loader: without it only the 32-bit Windows test runs are skipped.
#
# APT_ETC (default /etc/apt) is where the package sources are read and written (for tests).
set -euo pipefail

native="cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev asn1c libpugixml-dev
        libssl-dev openssl libcurl4-openssl-dev libstb-dev libxml2-utils
        libxml2-dev python3"
# wine32:i386 is the 32-bit loader that runs the i686 build (it needs dpkg's i386 architecture).
windows="mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 wine32:i386 xvfb xauth
         fonts-wqy-microhei x11-apps imagemagick"
# Debian packages: dpkg-shlibdeps (dpkg-dev) for their dependencies, lintian to check them.
package="dpkg-dev lintian"
# Setup programs: NSIS builds them, osslsigncode signs what they ship.
installer="nsis osslsigncode"
optional="wine32:i386"

apt_etc=${APT_ETC:-/etc/apt}
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"

say() { echo "deps.sh: $*" >&2; }

installed() {
    case "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" in
        *"install ok installed"*) return 0 ;;
        *) return 1 ;;
    esac
}

# apt-get update; a failure is reported with apt's first error line, and the caller goes on with
# the lists as they are.
update_lists() {
    local log
    log=$(mktemp)
    if ! $sudo_cmd apt-get update -q >"$log" 2>&1; then
        say "apt-get update failed, going on with the package lists as they are: $(grep -m1 '^E:' "$log" || tail -n1 "$log")"
    fi
    rm -f "$log"
}

apt_install() {
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q -o Acquire::Retries=3 "$@"
}

# Installs the packages; when the whole set fails, each one alone, to name the ones that cannot be
# installed. Prints the names that failed; nothing when all went in.
install_packages() {
    [ $# -gt 0 ] || return 0
    apt_install "$@" >&2 && return 0
    local pkg
    for pkg in "$@"; do
        installed "$pkg" || apt_install "$pkg" >&2 || echo "$pkg"
    done
}

has_source_entries() {
    grep -Eqs '^[[:space:]]*deb-src[[:space:]]' "$apt_etc/sources.list" "$apt_etc"/sources.list.d/*.list ||
        grep -Eqis '^Types:.*\bdeb-src\b' "$apt_etc"/sources.list.d/*.sources
}

# deb822: every stanza of Debian's archive whose types have "deb" again, typed "deb-src".
source_stanzas() {
    awk 'BEGIN { RS = "" }
         {
             n = split($0, lines, "\n"); deb = 0; debian = 0
             for (i = 1; i <= n; i++) {
                 low = tolower(lines[i])
                 if (low ~ /^types:/) {
                     m = split(substr(low, 7), types, /[ \t]+/)
                     for (j = 1; j <= m; j++) if (types[j] == "deb") deb = 1
                 }
                 if (low ~ /^uris:/ && low ~ /debian/) debian = 1
             }
             if (!deb || !debian) next
             for (i = 1; i <= n; i++) {
                 if (tolower(lines[i]) ~ /^types:/) lines[i] = "Types: deb-src"
                 out = out lines[i] "\n"
             }
             out = out "\n"
         }
         END { printf "%s", out }' "$@"
}

# One-line form: a deb-src line for every deb line of Debian's archive.
source_lines() {
    sed -n -E 's/^[[:space:]]*deb([[:space:]]+.*debian.*)$/deb-src\1/p' "$@"
}

add_source_entries() {
    has_source_entries && return 0
    local sources=() lists=() f
    for f in "$apt_etc"/sources.list.d/*.sources; do [ -f "$f" ] && sources+=("$f"); done
    [ -f "$apt_etc/sources.list" ] && lists+=("$apt_etc/sources.list")
    for f in "$apt_etc"/sources.list.d/*.list; do [ -f "$f" ] && lists+=("$f"); done
    local added=""
    if [ ${#sources[@]} -gt 0 ]; then
        local text
        text=$(source_stanzas "${sources[@]}")
        if [ -n "$text" ]; then
            printf '%s\n' "$text" | $sudo_cmd tee "$apt_etc/sources.list.d/ukeykit-src.sources" >/dev/null
            added=yes
        fi
    fi
    if [ ${#lists[@]} -gt 0 ]; then
        local text
        text=$(source_lines "${lists[@]}")
        if [ -n "$text" ]; then
            printf '%s\n' "$text" | $sudo_cmd tee "$apt_etc/sources.list.d/ukeykit-src.list" >/dev/null
            added=yes
        fi
    fi
    if [ -z "$added" ]; then
        say "no Debian package source to add source entries for (in $apt_etc)"
        return 1
    fi
    update_lists
}

wanted="" want_sources=""
for target in "$@"; do
    case "$target" in
        native) wanted="$wanted $native" ;;
        windows) wanted="$wanted $windows" ;;
        demo) wanted="$wanted $native" ;;
        package) wanted="$wanted $package" ;;
        installer) wanted="$wanted $installer" ;;
        # libFuzzer and the sanitizers' run-times come with clang's run-time package.
        fuzz) wanted="$wanted clang libclang-rt-14-dev" ;;
        sources) want_sources=yes ;;
        *) echo "deps.sh: unknown target '$target'" >&2; exit 2 ;;
    esac
done

missing=() missing_optional=()
for pkg in $wanted; do
    installed "$pkg" && continue
    case " $optional " in
        *" $pkg "*) missing_optional+=("$pkg") ;;
        *) missing+=("$pkg") ;;
    esac
done

if [ ${#missing[@]} -gt 0 ] || [ ${#missing_optional[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]} ${missing_optional[*]}"
    if [[ " ${missing_optional[*]} " == *":i386"* ]] &&
        ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo_cmd dpkg --add-architecture i386
    fi
    update_lists
    failed=$(install_packages "${missing[@]}")
    if [ -n "$failed" ]; then
        say "cannot install: $(echo $failed)"
        exit 1
    fi
    for pkg in "${missing_optional[@]}"; do
        if ! apt_install "$pkg" >&2; then
            say "cannot install $pkg: the 32-bit Windows tests will be skipped (nothing runs 32-bit Windows programs here)"
        fi
    done
fi

if [ -n "$want_sources" ]; then
    add_source_entries
fi

# Google Benchmark for the mingw build of Keywarden's benchmark: Debian's source package of the
# installed libbenchmark-dev, unpacked to /usr/src/benchmark (as googletest sits in /usr/src).
if [[ " $* " == *" windows "* ]] && [ ! -f /usr/src/benchmark/CMakeLists.txt ]; then
    tmp=$(mktemp -d)
    # Only the benchmark needs it: when the source cannot be had, the build goes on without it.
    (add_source_entries && cd "$tmp" && apt-get source -q --download-only benchmark >/dev/null &&
        tar xzf benchmark_*.orig.tar.gz && $sudo_cmd rm -rf /usr/src/benchmark &&
        $sudo_cmd cp -r benchmark-*/ /usr/src/benchmark) ||
        say "Google Benchmark source not available; Keywarden's benchmark is not built"
    rm -rf "$tmp"
fi
