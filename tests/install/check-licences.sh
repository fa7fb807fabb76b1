#!/usr/bin/env bash
# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# Every file of the tree names its licence and copyright, in the file or in
# .reuse/dep5. reuse is looked for when the test runs, not when the tree
# was configured: a tree configured before scripts/bootstrap installed the
# test packages finds it all the same.
#   check-licences.sh SOURCE_DIR
set -euo pipefail
command -v reuse >/dev/null || { echo "FAIL: reuse is missing: run scripts/bootstrap" >&2; exit 1; }
exec reuse --root "$1" lint
