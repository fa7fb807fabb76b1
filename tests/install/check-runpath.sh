#!/usr/bin/env bash
# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# Where the programs look for their libraries. In the build tree and once
# installed, every program and library has no RUNPATH (or RPATH) entry that
# is empty or relative: ld.so takes either from the directory the program
# was started in, and would load a libQt6Core.so.6 planted there. Installed
# programs look beside their own prefix ($ORIGIN/../LIBDIR) and nowhere else.
#   check-runpath.sh BUILD_DIR LIBDIR
set -euo pipefail
build_dir=$1
libdir=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

# The search path of one ELF file, empty when it has none.
search_path() {
    readelf -d "$1" 2>/dev/null | sed -n 's/.*(R[UN]*PATH).*path: \[\(.*\)\]$/\1/p'
}

# Every entry absolute or anchored at the file's own directory.
check_entries() {
    local file=$1 path=$2 entry
    # Read with a separator appended, so that a trailing one still gives
    # its empty entry.
    while IFS= read -r -d ':' entry; do
        case $entry in
            /* | '$ORIGIN' | '$ORIGIN/'*) ;;
            *) echo "FAIL: $file: empty or relative entry '$entry' in its search path [$path]" >&2
               status=1
               return ;;
        esac
    done <<<"$path:"
}

# Executables and shared objects below a directory.
elf_files() {
    find "$1" -name CMakeFiles -prune -o -type f \( -perm -u+x -o -name '*.so*' \) -print |
        while IFS= read -r file; do
            [ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" = '177ELF' ] && printf '%s\n' "$file"
        done
}

checked=0
while IFS= read -r file; do
    path=$(search_path "$file")
    [ -n "$path" ] && check_entries "$file" "$path"
    checked=$((checked + 1))
done < <(for dir in bin tests bench fuzz "$libdir"; do
    [ -d "$build_dir/$dir" ] && elf_files "$build_dir/$dir"
done)
[ "$checked" -gt 0 ] || { echo "FAIL: no program found in $build_dir" >&2; exit 1; }

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
installed=0
while IFS= read -r file; do
    path=$(search_path "$file")
    [ -n "$path" ] && check_entries "$file" "$path"
    case $file in
        "$work/prefix/bin/"*)
            [ "$path" = "\$ORIGIN/../$libdir" ] \
                || { echo "FAIL: installed $file searches [$path], not [\$ORIGIN/../$libdir]" >&2; status=1; }
            installed=$((installed + 1)) ;;
    esac
done < <(elf_files "$work/prefix")
[ "$installed" -gt 0 ] || { echo "FAIL: no program installed" >&2; exit 1; }

[ "$status" -eq 0 ] && echo "$checked built and $installed installed programs search no empty or relative directory"
exit "$status"
