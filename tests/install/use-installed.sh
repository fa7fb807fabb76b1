#!/usr/bin/env bash
# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# Installs the build into a throwaway prefix, moves that prefix elsewhere
# (the packages must not depend on where they were installed), then builds
# examples/battery-glance against it twice, with find_package(KvSystem2) and
# with pkg-config alone, and runs both on the virtual handset. The installed
# programs must run from the moved prefix too.
#   use-installed.sh SOURCE_DIR BUILD_DIR LIBDIR
set -euo pipefail
source_dir=$1
build_dir=$2
libdir=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset KVSYSTEM_SCENARIO KVSYSTEM_TRACE KVSYSTEM_BACKEND KVSYSTEM_SYSFS_ROOT LD_LIBRARY_PATH

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cmake --install "$build_dir" --prefix "$work/staged" >/dev/null
mv "$work/staged" "$work/prefix"
prefix=$work/prefix

for file in "$libdir/libkvsystem2.so.1" "$libdir/libkvsystem2.so" "$libdir/kvsystem2/logind.so" \
    include/kvsystem2/kvsensor.h include/kvsystem2/kvsystem2_export.h \
    "$libdir/cmake/KvSystem2/KvSystem2Config.cmake" "$libdir/pkgconfig/kvsystem2.pc" \
    bin/charge-recorder share/man/man1/charge-recorder.1.gz share/man/man7/kvsystem2.7.gz \
    share/bash-completion/completions/charge-recorder; do
    [ -e "$prefix/$file" ] || fail "not installed: $file"
done
# What only the Debian packages carry stays out of a plain installation.
debian_only=$(cd "$prefix" && find . -name 'changelog.Debian.gz' -o -name copyright -o -path '*/lintian/*')
[ -z "$debian_only" ] || fail "Debian's files in a plain installation: $debian_only"

# The library's output: its charge and voltage, then one light reading.
check_output() {
    local name=$1 out=$2
    printf '%s\n' "$out" | grep -Eq '^battery: [0-9]+ %, [0-9]+ mV$' || fail "$name: no battery line in: $out"
    printf '%s\n' "$out" | grep -Eq '^light: [0-9]+ lux$' || fail "$name: no light line in: $out"
    [ "$(printf '%s\n' "$out" | wc -l)" -eq 2 ] || fail "$name: expected two lines, got: $out"
}

# 1. CMake: the package finds its Qt for the caller.
cmake -S "$source_dir/examples" -B "$work/with-cmake" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_BUILD_TYPE=Release >"$work/cmake.log" 2>&1 || { cat "$work/cmake.log"; fail "configuring the example"; }
cmake --build "$work/with-cmake" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "building the example with CMake"; }
ldd "$work/with-cmake/battery-glance" | grep "$prefix/$libdir/libkvsystem2.so.1" >/dev/null \
    || fail "the CMake example does not use the installed library: $(ldd "$work/with-cmake/battery-glance")"
check_output "find_package" "$("$work/with-cmake/battery-glance")"

# A project on the other Qt is refused at configure time, not at run time.
qt=$(sed -n 's/^set(KvSystem2_QT_MAJOR_VERSION \([56]\))$/\1/p' "$prefix/$libdir/cmake/KvSystem2/KvSystem2Config.cmake")
other=$((11 - qt))
if [ -d "/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null)/cmake/Qt${other}Core" ]; then
    mkdir -p "$work/other-qt"
    cat >"$work/other-qt/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.16)
project(other-qt LANGUAGES CXX)
find_package(Qt${other} REQUIRED COMPONENTS Core)
find_package(KvSystem2 REQUIRED)
CMAKE
    if cmake -S "$work/other-qt" -B "$work/other-qt/build" -DCMAKE_PREFIX_PATH="$prefix" >"$work/other.log" 2>&1; then
        fail "a Qt ${other} project accepted the Qt ${qt} library"
    fi
    grep -q "built on Qt ${qt}, but the project already uses Qt ${other}" "$work/other.log" \
        || { cat "$work/other.log"; fail "no reason given for refusing Qt ${other}"; }
fi

# 2. pkg-config alone: its flags are enough to compile and link.
export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
flags=$(pkg-config --cflags --libs kvsystem2) || fail "pkg-config does not know kvsystem2"
[ -f "$(pkg-config --variable=includedir kvsystem2)/kvsystem2/kvsensor.h" ] \
    || fail "the include directory is not where the prefix moved: $flags"
[ -f "$(pkg-config --variable=libdir kvsystem2)/libkvsystem2.so" ] \
    || fail "the library directory is not where the prefix moved: $flags"
# shellcheck disable=SC2086
c++ -std=c++17 -o "$work/pc-glance" "$source_dir/examples/battery-glance/main.cpp" $flags \
    || fail "compiling with: $flags"
check_output "pkg-config" "$(LD_LIBRARY_PATH="$prefix/$libdir" "$work/pc-glance")"

# 3. The installed programs find the moved library through their RPATH.
"$prefix/bin/charge-recorder" --help >"$work/help.txt" || fail "installed charge-recorder --help"
grep -q '^Usage: ' "$work/help.txt" || fail "installed charge-recorder printed no usage"
echo "the installed library works with find_package and with pkg-config"
