#!/usr/bin/env bash
# Every program the build makes is listed by scripts/demo, has a manual
# page (its own, or a link to the demos' page) and is named there.
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
    zcat "$page" | sed -n '/^\.SH NAME/,/^\.SH SYNOPSIS/p' | grep -qE "(^|[ ,])$program([ ,]|$)" \
        || { echo "FAIL: $(basename "$page") does not name $program" >&2; status=1; }
done
for program in $listed; do
    [ -x "$build_dir/bin/$program" ] || { echo "FAIL: scripts/demo lists $program, which is not built" >&2; status=1; }
done
exit $status
