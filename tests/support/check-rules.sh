#!/usr/bin/env bash
# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# The Prometheus rules shipped for charge-exporter's gauges: promtool finds
# them well-formed and their test cases pass. promtool is looked for when
# the test runs, so installing it later needs no new configure.
#   check-rules.sh DIR   (the directory of kvsystem2-rules.yml and its tests)
set -euo pipefail
command -v promtool >/dev/null || {
    echo "SKIP: promtool is not installed (Debian's prometheus package; scripts/bootstrap installs it)"
    exit 77
}
cd "$1"
promtool check rules kvsystem2-rules.yml
promtool test rules kvsystem2-rules.test.yml
