#!/usr/bin/env bash
# Installs the Debian packages a make target needs, and only when some are missing
# (no apt-get update when everything is already there).
#   scripts/deps.sh TARGET ...   native, windows (both widths), windows-x64, windows-x86, mingw
#                                (both widths), mingw-x64, mingw-x86, demo, package, installer,
#                                fuzz, sources
#
# The demo needs only the 64-bit Windows parts: it neither adds dpkg's i386 architecture nor
# installs the 32-bit compiler and Wine loader, the largest share of a fresh set-up's downloads.
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
# The Windows trees: what both widths use, then each width's compiler and Wine loader.
# wine32:i386 is the 32-bit loader that runs the i686 build (it needs dpkg's i386 architecture).
windows_common="mingw-w64 wine64 xvfb xauth fonts-wqy-microhei x11-apps imagemagick"
windows_x64="g++-mingw-w64-x86-64-posix"
windows_x86="g++-mingw-w64-i686-posix wine32:i386"
# scripts/mingw-deps.sh: the cross compiler of each width, CMake (pugixml) and Perl (OpenSSL's
# Configure).
mingw_common="cmake make perl"
# Debian packages: dpkg-shlibdeps (dpkg-dev) for their dependencies, lintian to check them.
package="dpkg-dev lintian"
# Setup programs: NSIS builds them, osslsigncode signs what they ship.
installer="nsis osslsigncode"
optional="wine32:i386"

apt_etc=${APT_ETC:-/etc/apt}

say() { echo "deps.sh: $*" >&2; }

# Commands that change the system run as root: directly when this is root, through sudo
# otherwise. A minimal system has no sudo; then nothing is tried and the set-up says why.
root_cmd=""
need_root() {
    [ "$(id -u)" -eq 0 ] && return 0
    if command -v sudo >/dev/null 2>&1; then
        root_cmd=sudo
        return 0
    fi
    say "packages must be installed and this is not root, with no sudo: run 'scripts/deps.sh $*' as root"
    exit 1
}

installed() {
    case "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" in
        *"install ok installed"*) return 0 ;;
        *) return 1 ;;
    esac
}

# apt's first error line of a log (its last line when there is no error line).
first_error() { grep -m1 '^E:' "$1" || tail -n1 "$1"; }

# apt-get update; a failure (one index of the mirror out of step, say) is reported in one line
# and the caller goes on with the lists as they are: what is needed may well be in them.
update_lists() {
    local log
    log=$(mktemp)
    if ! $root_cmd apt-get update -q -o Acquire::Retries=3 >"$log" 2>&1; then
        say "apt-get update failed, going on with the package lists as they are: $(first_error "$log")"
    fi
    rm -f "$log"
}

apt_install() {
    $root_cmd env DEBIAN_FRONTEND=noninteractive apt-get install -y -q -o Acquire::Retries=3 "$@"
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

# The package source files of each form that are there (none is assumed by name).
sources_files() {
    local f
    for f in "$apt_etc"/sources.list.d/*.sources; do [ ! -f "$f" ] || echo "$f"; done
}
list_files() {
    local f
    for f in "$apt_etc/sources.list" "$apt_etc"/sources.list.d/*.list; do [ ! -f "$f" ] || echo "$f"; done
}

has_source_entries() {
    local files
    files=$(list_files)
    if [ -n "$files" ] && grep -Eqs '^[[:space:]]*deb-src[[:space:]]' $files; then
        return 0
    fi
    files=$(sources_files)
    [ -n "$files" ] && grep -Eqis '^types:([[:space:]].*)?[[:space:]]deb-src([[:space:]]|$)' $files
}

# deb822: every enabled stanza of Debian's archive whose types have "deb", again with the types
# "deb-src". Written for any awk (mawk is the one a minimal Debian has).
source_stanzas() {
    awk 'BEGIN { RS = "" }
         {
             n = split($0, lines, "\n"); deb = 0; debian = 0; enabled = 1
             for (i = 1; i <= n; i++) {
                 low = tolower(lines[i])
                 if (low ~ /^types:/) {
                     m = split(substr(low, 7), types, /[ \t]+/)
                     for (j = 1; j <= m; j++) if (types[j] == "deb") deb = 1
                 }
                 if (low ~ /^uris:/ && low ~ /debian/) debian = 1
                 if (low ~ /^enabled:[ \t]*no/) enabled = 0
             }
             if (!deb || !debian || !enabled) next
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

# write FILE: standard input into FILE as root.
write_root() { $root_cmd mkdir -p "$(dirname "$1")" && $root_cmd tee "$1" >/dev/null; }

# add_entries MAKER TARGET FILE...: the source entries MAKER derives from the files, written to
# TARGET in sources.list.d; false when there are none.
add_entries() {
    local maker=$1 target=$2 text
    shift 2
    [ $# -gt 0 ] || return 1
    text=$("$maker" "$@")
    [ -n "$text" ] || return 1
    printf '%s\n' "$text" | write_root "$apt_etc/sources.list.d/$target"
}

add_source_entries() {
    has_source_entries && return 0
    need_root sources
    local added=""
    # shellcheck disable=SC2046
    add_entries source_stanzas ukeykit-src.sources $(sources_files) && added=yes
    # shellcheck disable=SC2046
    add_entries source_lines ukeykit-src.list $(list_files) && added=yes
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
        demo) wanted="$wanted $native $windows_common $windows_x64" ;;
        windows) wanted="$wanted $windows_common $windows_x64 $windows_x86" ;;
        windows-x64) wanted="$wanted $windows_common $windows_x64" ;;
        windows-x86) wanted="$wanted $windows_common $windows_x86" ;;
        mingw) wanted="$wanted $mingw_common g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix" ;;
        mingw-x64) wanted="$wanted $mingw_common g++-mingw-w64-x86-64-posix" ;;
        mingw-x86) wanted="$wanted $mingw_common g++-mingw-w64-i686-posix" ;;
        package) wanted="$wanted $package" ;;
        installer) wanted="$wanted $installer" ;;
        # libFuzzer and the sanitizers' run-times come with clang's run-time package.
        fuzz) wanted="$wanted clang libclang-rt-14-dev" ;;
        sources) want_sources=yes ;;
        *) echo "deps.sh: unknown target '$target'" >&2; exit 2 ;;
    esac
done

missing=() missing_optional=()
for pkg in $(echo $wanted | tr ' ' '\n' | awk '!seen[$0]++'); do
    installed "$pkg" && continue
    case " $optional " in
        *" $pkg "*) missing_optional+=("$pkg") ;;
        *) missing+=("$pkg") ;;
    esac
done

if [ ${#missing[@]} -gt 0 ] || [ ${#missing_optional[@]} -gt 0 ]; then
    need_root "$@"
    echo "Installing: ${missing[*]} ${missing_optional[*]}"
    if [[ " ${missing_optional[*]} " == *":i386 "* ]] &&
        ! dpkg --print-foreign-architectures | grep -qx i386; then
        $root_cmd dpkg --add-architecture i386
    fi
    update_lists
    failed=$(install_packages "${missing[@]}")
    if [ -n "$failed" ]; then
        say "cannot install: $(echo $failed)"
        exit 1
    fi
    for pkg in "${missing_optional[@]}"; do
        log=$(mktemp)
        if ! apt_install "$pkg" >"$log" 2>&1; then
            say "$pkg cannot be installed ($(first_error "$log")): the 32-bit Windows tests will be skipped (no 32-bit Wine loader to run them)"
        fi
        rm -f "$log"
    done
fi

if [ -n "$want_sources" ]; then
    add_source_entries
fi
