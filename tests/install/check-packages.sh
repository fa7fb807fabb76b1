#!/usr/bin/env bash
# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# Builds the Debian packages from the build tree with CPack, checks them
# with lintian (not one warning, pedantic), installs them with dpkg into a throwaway root
# (its own package database; nothing of this machine changes), runs the
# installed programs, and removes the packages again, leaving no file.
#   check-packages.sh BUILD_DIR
set -euo pipefail
build_dir=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset KVSYSTEM_SCENARIO KVSYSTEM_TRACE KVSYSTEM_BACKEND KVSYSTEM_SYSFS_ROOT LD_LIBRARY_PATH
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
libdir=usr/lib/$multiarch

# grep that reads all its input: grep -q stops at the first match, and under
# pipefail the writer's SIGPIPE would turn a match into a failure.
has() {
    grep "$@" >/dev/null
}

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# 1. The packages.
(cd "$work" && cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$work/out") >"$work/cpack.log" 2>&1 \
    || { cat "$work/cpack.log" >&2; fail "cpack"; }
runtime=$(ls "$work"/out/libkvsystem2-1_*.deb)
dev=$(ls "$work"/out/libkvsystem2-dev_*.deb)
programs=$(ls "$work"/out/kvsystem2-demos_*.deb)
ls "$work"/out/*dbgsym*.ddeb >/dev/null 2>&1 || fail "no debug symbol packages"

# 2. What each holds, and what each needs.
contains() {
    local deb=$1 path=$2
    dpkg-deb -c "$deb" | awk '{print $6}' | has -x "./$path" || fail "$(basename "$deb") lacks /$path"
}
contains "$runtime" "$libdir/libkvsystem2.so.1"
contains "$runtime" usr/share/doc/libkvsystem2-1/copyright
contains "$dev" "$libdir/libkvsystem2.so"
contains "$dev" usr/include/kvsystem2/kvbattery.h
contains "$dev" "$libdir/cmake/KvSystem2/KvSystem2Config.cmake"
contains "$dev" "$libdir/pkgconfig/kvsystem2.pc"
contains "$programs" usr/bin/charge-recorder
contains "$programs" usr/bin/lux-demo
contains "$programs" "$libdir/kvsystem2/logind.so"
contains "$programs" usr/share/man/man1/charge-recorder.1.gz
contains "$programs" usr/share/bash-completion/completions/charge-recorder
contains "$programs" usr/share/doc/kvsystem2-demos/examples/kvsystem2-rules.yml
contains "$dev" usr/share/doc/libkvsystem2-dev/README.md
contains "$dev" usr/share/doc/libkvsystem2-dev/examples/battery-glance/main.cpp
contains "$dev" usr/share/lintian/overrides/libkvsystem2-dev
[ "$(dpkg-deb -f "$runtime" Multi-Arch)" = same ] || fail "the library is not Multi-Arch: same: $(dpkg-deb -f "$runtime")"
scripts=$(dpkg-deb --ctrl-tarfile "$runtime" | tar -t | grep -E 'inst$|rm$' || true)
[ -z "$scripts" ] || fail "the library has maintainer scripts: $scripts"
if dpkg-deb -c "$runtime" | has -E 'usr/(bin|include|share/man)/'; then
    fail "the library package holds more than the library: $(dpkg-deb -c "$runtime")"
fi
depends_of() { dpkg-deb -f "$1" Depends; }
depends_of "$runtime" | has 'libc6' || fail "runtime dependencies not computed: $(depends_of "$runtime")"
depends_of "$runtime" | grep -Eq 'libqt[56]core' || fail "no Qt dependency: $(depends_of "$runtime")"
depends_of "$programs" | has 'libkvsystem2-1' || fail "the programs do not depend on the library: $(depends_of "$programs")"
depends_of "$dev" | has 'libkvsystem2-1 (= ' || fail "the dev package does not pin the library: $(depends_of "$dev")"
dpkg-deb -x "$programs" "$work/extracted"
dpkg-deb -x "$runtime" "$work/extracted"
# Hardened as Debian's own packages, and without the compiler's .comment.
for binary in usr/bin/charge-recorder usr/bin/lux-demo "$libdir/libkvsystem2.so.1" "$libdir/kvsystem2/logind.so"; do
    readelf -d "$work/extracted/$binary" | has -E 'FLAGS.*\bNOW\b|BIND_NOW' || fail "$binary is not linked with -z now"
    readelf -S "$work/extracted/$binary" | has '\.comment' && fail "$binary has a .comment section"
done
nm -D "$work/extracted/$libdir/libkvsystem2.so.1" | has -E ' __[a-z]+printf_chk@' \
    || fail "libkvsystem2.so.1 calls no fortified function"
kind=$(file -b "$work/extracted/usr/bin/charge-recorder")
case $kind in
    *"not stripped"*) fail "charge-recorder is not stripped: $kind" ;;
    *stripped*) ;;
    *) fail "charge-recorder: $kind" ;;
esac

# 3. lintian, pedantic: any warning fails, every remark is shown.
lintian --pedantic --fail-on warning,pedantic --suppress-tags-from-file /dev/null "$runtime" "$dev" "$programs" \
    >"$work/lintian.log" 2>&1 || { cat "$work/lintian.log" >&2; fail "lintian reports: $(cat "$work/lintian.log")"; }
cat "$work/lintian.log"

# 4. Install into a root of its own, run, remove.
root=$work/root
mkdir -p "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
dpkg_root() {
    # This machine's configuration may exclude documentation; the throwaway
    # root takes every file. Dependencies live in the real system, not in
    # the empty database. The root has no shell to chroot into, so the
    # library's maintainer scripts, which do nothing, run from here.
    dpkg --root="$root" --log="$work/dpkg.log" --force-not-root --force-depends \
        --force-script-chrootless --path-include='/*' "$@"
}
dpkg_root -i "$runtime" "$dev" "$programs" >"$work/install.log" 2>&1 || { cat "$work/install.log" >&2; fail "dpkg -i"; }
[ "$(dpkg --root="$root" -l | grep -c '^ii ')" -eq 3 ] || fail "not all three packages are installed: $(dpkg --root="$root" -l)"

"$root/usr/bin/charge-recorder" --help >"$work/help.txt" || fail "installed charge-recorder --help"
grep -q '^Usage: ' "$work/help.txt" || fail "installed charge-recorder printed no usage"
out=$(echo | timeout 20 "$root/usr/bin/lux-demo") || fail "installed lux-demo"
grep -q 'exiting\.\.' <<<"$out" || fail "installed lux-demo did not end on Enter: $out"
used=$(ldd "$root/usr/bin/lux-demo" | awk '$1 == "libkvsystem2.so.1" {print $3}')
[ -n "$used" ] && [ "$(realpath "$used")" = "$(realpath "$root/$libdir/libkvsystem2.so.1")" ] \
    || fail "lux-demo does not use the installed library: $(ldd "$root/usr/bin/lux-demo")"
MANWIDTH=80 man -l "$root/usr/share/man/man1/charge-recorder.1.gz" | has -- '--interval' \
    || fail "the installed manual page does not render"

# Removed (not purged), nothing is left behind, not even a state rc.
dpkg_root -r kvsystem2-demos libkvsystem2-dev libkvsystem2-1 >"$work/remove.log" 2>&1 || { cat "$work/remove.log" >&2; fail "dpkg -r"; }
[ "$(dpkg --root="$root" -l 2>/dev/null | grep -c '^[a-z][a-z] ')" -eq 0 ] || fail "packages left after dpkg -r: $(dpkg --root="$root" -l)"
dpkg_root -P kvsystem2-demos libkvsystem2-dev libkvsystem2-1 >"$work/remove.log" 2>&1 || { cat "$work/remove.log" >&2; fail "dpkg -P"; }
left=$(find "$root" -path "$root/var" -prune -o ! -type d -print)
[ -z "$left" ] || fail "files left after removal: $left"
[ "$(dpkg --root="$root" -l 2>/dev/null | grep -c '^[a-z][a-z] ')" -eq 0 ] || fail "packages left: $(dpkg --root="$root" -l)"
echo "packages: $(cd "$work/out" && ls)"
