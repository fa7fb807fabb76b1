#!/usr/bin/env bash
# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# Every program the build makes is listed by scripts/demo, has a manual
# page (its own, or a link to the demos' page) and is named there, in the
# README's table and in the programs package's description; every page of
# section 1 is in the SEE ALSO of kvsystem2(7) and of charge-recorder(1).
#   check-program-list.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
status=0
listed=$("$source_dir/scripts/demo" | awk 'NR > 2 {print $1}')
for path in "$build_dir"/bin/*; do
    [ -x "$path" ] || continue
    program=$(basename "$path")
    grep -qx "$program" <<<"$listed" || { echo "FAIL: scripts/demo does not list $program" >&2; status=1; }
    # Installed as man1/<page>, or as a link beside it to another page.
    page=$build_dir/man/man1/$program.1.gz
    link=$build_dir/man/links/$program.1.gz
    [ -e "$page" ] || { [ -L "$link" ] && page=$build_dir/man/man1/$(readlink "$link"); }
    [ -e "$page" ] || { echo "FAIL: no manual page for $program" >&2; status=1; continue; }
    # The NAME section (up to SYNOPSIS) names it.
    zcat "$page" | sed -n '/^\.SH NAME/,/^\.SH SYNOPSIS/p' | grep -E "(^|[ ,])$program([ ,]|$)" >/dev/null \
        || { echo "FAIL: $(basename "$page") does not name $program" >&2; status=1; }
done
description=$(sed -n '/^set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION/,/")$/p' "$build_dir/CPackConfig.cmake")
[ -n "$description" ] || { echo "FAIL: no description of the programs package in CPackConfig.cmake" >&2; status=1; }
for path in "$build_dir"/bin/*; do
    [ -x "$path" ] || continue
    program=$(basename "$path")
    grep -q "^| \`$program\` |" "$source_dir/README.md" || { echo "FAIL: the README's table lacks $program" >&2; status=1; }
    grep -qE "(^|[ ,])$program([ ,.]|$)" <<<"$description" \
        || { echo "FAIL: the package description does not name $program" >&2; status=1; }
done
see_also() { sed -n '/^\.SH SEE ALSO/,/^\.SH/p' "$source_dir/docs/man/$1" | sed 's/\\-/-/g'; }
for page in "$build_dir"/man/man1/*.1.gz; do
    name=$(basename "$page" .1.gz)
    for other in kvsystem2.7 charge-recorder.1; do
        [ "$other" = "$name.1" ] && continue
        see_also "$other" | grep -E "(^|[ \"])$name \"?\(1\)" >/dev/null \
            || { echo "FAIL: $other does not refer to $name(1)" >&2; status=1; }
    done
done
for program in $listed; do
    [ -x "$build_dir/bin/$program" ] || { echo "FAIL: scripts/demo lists $program, which is not built" >&2; status=1; }
done
exit $status
