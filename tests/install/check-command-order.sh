#!/usr/bin/env bash
# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# The README's two commands in its order on a fresh machine:
# `./scripts/demo lux-demo` configures the tree when only the build packages
# are installed, then `./scripts/test` installs the test packages and runs
# the tests in that same tree, which is not configured again. Here a tree is
# configured while every program of the test packages (scripts/bootstrap's
# list) is hidden, and then, with them back, its tests must find them: no
# lookup made at configure time may be kept in the cache as missing. The
# build itself is left out; it decides nothing about where the tests'
# tools are.
#   check-command-order.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The test packages, as scripts/bootstrap names them.
packages=$(sed -n '/^test_packages=(/,/)/p' "$source_dir/scripts/bootstrap" | tr -d '()' | sed 's/^test_packages=//')
[ -n "$packages" ] || fail "no test_packages list in scripts/bootstrap"
hidden=$work/hidden
for package in $packages; do
    dpkg -L "$package" 2>/dev/null | grep -E '^(/usr)?(/local)?/s?bin/[^/]+$' || true
done | xargs -r -n1 basename | sort -u >"$hidden"
grep -qx reuse "$hidden" || fail "reuse is not among the test packages' programs: $(tr '\n' ' ' <"$hidden")"

# A PATH with every other program, and a configure that sees no other place.
system_dirs=(/usr/local/bin /usr/local/sbin /usr/bin /usr/sbin /bin /sbin)
mkdir "$work/bin"
for dir in "${system_dirs[@]}"; do
    [ -d "$dir" ] || continue
    for program in "$dir"/*; do
        name=${program##*/}
        [ -e "$work/bin/$name" ] || grep -qx -- "$name" "$hidden" || ln -s "$program" "$work/bin/$name"
    done
done
ignore=$(IFS=';'; echo "${system_dirs[*]}")
# On the Qt of the suite's tree, whose cache it is compared with.
qt=$(sed -n 's/^QT_MAJOR_VERSION:[A-Z]*=//p' "$build_dir/CMakeCache.txt")
PATH=$work/bin cmake -S "$source_dir" -B "$work/tree" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DQT_MAJOR_VERSION=$qt" "-DCMAKE_IGNORE_PATH=$ignore" >"$work/configure.log" 2>&1 \
    || { cat "$work/configure.log" >&2; fail "configuring without the test packages"; }

# What this configure did not find and the suite's own tree, configured
# with every package there, did: found by CMake's find_* commands and kept
# in the cache as missing.
not_found() {
    sed -n 's/^\([^#/][^:]*\):[A-Z]*=.*-NOTFOUND$/\1/p' "$1/CMakeCache.txt" | sort
}
status=0
missing=$(comm -23 <(not_found "$work/tree") <(not_found "$build_dir"))
[ -z "$missing" ] || { echo "FAIL: the cache keeps as missing: $(echo $missing)" >&2; status=1; }

# The test tools are back (scripts/test has run scripts/bootstrap).
ctest --test-dir "$work/tree" -R '^licence_information$' --output-on-failure >"$work/ctest.log" 2>&1 \
    || { cat "$work/ctest.log" >&2; echo "FAIL: licence_information in the tree configured without reuse" >&2; status=1; }
[ "$status" -eq 0 ] && echo "a tree configured without the test packages runs their tools once they are installed"
exit "$status"
