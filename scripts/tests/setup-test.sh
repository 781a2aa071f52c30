#!/usr/bin/env bash
# The set-up of a fresh machine. First scripts/deps.sh on the package sources and apt answers a fresh machine meets: the classic
# one-line sources.list, deb822 files, both; an apt-get update that fails (a mirror out of step);
# the 32-bit Wine loader that cannot be installed (optional); another package that cannot (fails,
# naming it); everything installed (no apt call at all). apt-get, dpkg and dpkg-query are
# stand-ins on PATH that record their calls and answer from a state folder; the sources live under
# APT_ETC. The awk is mawk when there is one (a minimal Debian's only awk).
# Then the 32-bit Windows runs on a machine that cannot run 32-bit programs (KIT_NO_WIN32=1
# makes this one answer so, with a loader that runs): the Wine runner and the host-test script
# answer "skipped" (77), never "failed".
#   setup-test.sh WORK [DEPS.sh]
set -uo pipefail
work=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
deps=${2:-$root/scripts/deps.sh}
rm -rf "$work"
mkdir -p "$work/bin"
work=$(cd "$work" && pwd)
state=$work/state
failures=0
fail() { echo "FAIL [$case]: $*"; failures=$((failures + 1)); }

# The stand-ins. state/installed: installed packages; state/broken: packages apt cannot install;
# state/update-fails: apt-get update fails as with a mirror out of step; state/calls: every call.
cat >"$work/bin/apt-get" <<'EOF'
#!/bin/sh
echo "apt-get $*" >>"$STATE/calls"
case " $* " in
*" update "*)
    [ -e "$STATE/update-fails" ] || exit 0
    echo "E: Failed to fetch http://deb.debian.org/debian/dists/bookworm/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    exit 100 ;;
*" install "*)
    for arg; do
        case "$arg" in -* | install | *=*) continue ;; esac
        if grep -qx "$arg" "$STATE/broken" 2>/dev/null; then
            echo "E: Package '$arg' has no installation candidate" >&2
            exit 100
        fi
    done
    for arg; do
        case "$arg" in -* | install | *=*) ;; *) echo "$arg" >>"$STATE/installed" ;; esac
    done ;;
esac
EOF
cat >"$work/bin/dpkg-query" <<'EOF'
#!/bin/sh
for last; do :; done
grep -qx "$last" "$STATE/installed" 2>/dev/null && { echo "install ok installed"; exit 0; }
echo "dpkg-query: no packages found matching $last" >&2
exit 1
EOF
cat >"$work/bin/dpkg" <<'EOF'
#!/bin/sh
echo "dpkg $*" >>"$STATE/calls"
case "$1" in
--print-foreign-architectures) cat "$STATE/architectures" 2>/dev/null ;;
--add-architecture) echo "$2" >>"$STATE/architectures" ;;
esac
EOF
# Run by a user other than root, deps.sh goes through sudo: here one that only runs the command.
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin"/*
command -v mawk >/dev/null && ln -s "$(command -v mawk)" "$work/bin/awk"
export PATH=$work/bin:$PATH STATE=$state

# start CASE: a clean state and an empty APT_ETC.
start() {
    case=$1
    rm -rf "$state" "$work/etc"
    mkdir -p "$state" "$work/etc/sources.list.d"
    touch "$state/calls"
    export APT_ETC=$work/etc
}
# run ARGS...: deps.sh with ARGS; its status in $status, its error output in $work/err.
run() {
    status=0
    "$deps" "$@" >"$work/out" 2>"$work/err" || status=$?
}
calls() { grep -c "^$1" "$state/calls"; }
expect_file() { # FILE CONTENT
    if [ ! -f "$1" ]; then fail "$(basename "$1") was not written"
    elif [ "$(cat "$1")" != "$2" ]; then fail "$(basename "$1") is:"; cat "$1"; fi
}

classic='# deb cdrom:[Debian GNU/Linux 12]/ bookworm main
deb http://deb.debian.org/debian bookworm main contrib
# deb-src http://deb.debian.org/debian bookworm main
deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://security.debian.org/debian-security bookworm-security main'
classic_src='deb-src http://deb.debian.org/debian bookworm main contrib
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://security.debian.org/debian-security bookworm-security main'
deb822='Types: deb
# http://snapshot.debian.org/archive/debian/20250520T000000Z
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Enabled: no
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg'
deb822_src='Types: deb-src
# http://snapshot.debian.org/archive/debian/20250520T000000Z
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg'
# A source that is not Debian's archive gets no source entry.
other_list='deb [arch=amd64] https://packages.example.org/repo stable main'
other_sources='Types: deb
URIs: https://packages.example.org/repo
Suites: stable
Components: main'

for form in classic deb822 both; do
    start "sources, $form"
    case $form in
        classic) echo "$classic" >"$APT_ETC/sources.list"; echo "$other_list" >"$APT_ETC/sources.list.d/other.list" ;;
        deb822) echo "$deb822" >"$APT_ETC/sources.list.d/debian.sources"; echo "$other_sources" >"$APT_ETC/sources.list.d/other.sources" ;;
        both) echo "$classic" >"$APT_ETC/sources.list"; echo "$deb822" >"$APT_ETC/sources.list.d/debian.sources" ;;
    esac
    run sources
    [ $status -eq 0 ] || fail "exit $status: $(cat "$work/err")"
    [ "$form" = deb822 ] && [ -e "$APT_ETC/sources.list.d/ukeykit-src.list" ] && fail "a one-line file beside deb822 sources"
    [ "$form" = classic ] && [ -e "$APT_ETC/sources.list.d/ukeykit-src.sources" ] && fail "a deb822 file beside one-line sources"
    [ "$form" = deb822 ] || expect_file "$APT_ETC/sources.list.d/ukeykit-src.list" "$classic_src"
    [ "$form" = classic ] || expect_file "$APT_ETC/sources.list.d/ukeykit-src.sources" "$deb822_src"
    [ "$(calls 'apt-get update')" = 1 ] || fail "apt-get update ran $(calls 'apt-get update') times, not once"
    # Once the entries are there, nothing is added and apt is not asked again.
    : >"$state/calls"
    run sources
    [ $status -eq 0 ] && [ ! -s "$state/calls" ] || fail "second run: exit $status, calls: $(cat "$state/calls")"
done

start "update fails"
echo "$classic" >"$APT_ETC/sources.list"
touch "$state/update-fails"
run native
[ $status -eq 0 ] || fail "exit $status: $(cat "$work/err")"
[ "$(grep -c 'apt-get update failed' "$work/err")" = 1 ] && grep -q 'unexpected size' "$work/err" ||
    fail "no one-line report with apt's reason: $(cat "$work/err")"
grep -q '^apt-get install .*asn1c' "$state/calls" || fail "no install after the failed update"

start "wine32:i386 cannot be installed"
echo wine32:i386 >"$state/broken"
run native windows
[ $status -eq 0 ] || fail "exit $status: $(cat "$work/err")"
grep -q '^dpkg --add-architecture i386' "$state/calls" || fail "i386 not added before the install"
grep -qx wine64 "$state/installed" || fail "the other Windows packages were not installed"
[ "$(grep -c 'wine32:i386.*32-bit Windows tests will be skipped' "$work/err")" = 1 ] ||
    fail "no one-line notice that the 32-bit tests are skipped: $(cat "$work/err")"

start "the demo: no 32-bit part"
run demo
[ $status -eq 0 ] || fail "exit $status: $(cat "$work/err")"
grep -qx wine64 "$state/installed" && grep -qx asn1c "$state/installed" ||
    fail "the demo's packages were not installed"
grep -qE 'i386|i686' "$state/calls" && fail "the demo asked for 32-bit parts: $(grep -E 'i386|i686' "$state/calls")"

start "another package cannot be installed"
echo asn1c >"$state/broken"
run native windows
[ $status -ne 0 ] || fail "exit 0 although asn1c is missing"
grep -q 'cannot install: asn1c$' "$work/err" || fail "asn1c not named: $(tail -n 3 "$work/err")"
grep -qx cmake "$state/installed" || fail "the installable packages were not installed"

start "everything installed"
echo "$classic" >"$APT_ETC/sources.list"
run native windows mingw package installer fuzz
cp "$state/installed" "$work/all"
start "everything installed"
cp "$work/all" "$state/installed"
run native windows mingw package installer fuzz
[ $status -eq 0 ] && [ ! -s "$state/calls" ] && [ ! -s "$work/out" ] ||
    fail "exit $status, calls: $(cat "$state/calls") $(cat "$work/out")"

case="32-bit runs where none can run"
(
    # A loader that runs (the 64-bit one), so that only the setting decides.
    export KIT_NO_WIN32=1 KIT_WINE=/usr/lib/wine/wine64 KIT_WINEPREFIX=$work/prefix PATH=${PATH#"$work/bin:"}
    status=0
    "$root/cmake/wine-run.sh" --win32 --probe 2>"$work/err" || status=$?
    [ $status -eq 77 ] && grep -q 'KIT_NO_WIN32' "$work/err" || echo "wine-run.sh --probe: exit $status: $(cat "$work/err")"
    status=0
    "$root/cmake/wine-run.sh" --win32 "$work/none.exe" 2>/dev/null || status=$?
    [ $status -eq 77 ] || echo "wine-run.sh PROGRAM: exit $status"
    status=0
    "$root/sealgate/tests/host/run_host_tests.sh" --tools "$work/none" --program "$work/none.exe" \
        --runner "$root/cmake/wine-run.sh --win32" --native-program "$work/none" --work "$work/host" \
        >"$work/err" 2>&1 || status=$?
    [ $status -eq 77 ] || echo "run_host_tests.sh: exit $status: $(cat "$work/err")"
) >"$work/skip"
[ -s "$work/skip" ] && fail "$(cat "$work/skip")"

[ $failures -eq 0 ] && echo "set-up: all cases passed"
[ $failures -eq 0 ]
