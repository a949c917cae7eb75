#!/usr/bin/env bash
# Runs the test presets given as arguments, one after the other.
set -euo pipefail
cd "$(dirname "$0")/.."
start=${KORVA_TEST_START:-$(date +%s)}
for preset in "$@"; do
    echo "== tests: $preset ($(( $(date +%s) - start )) s)"
    ctest --preset "$preset"
done
