#!/usr/bin/env bash
# Builds and runs every test: the Windows build's headless tests under Wine,
# the optimised build, then all tests again under
# AddressSanitizer + UndefinedBehaviorSanitizer, then the concurrency tests under
# ThreadSanitizer. GUI tests get a virtual X display from Xvfb, managed by
# openbox. Last, every fuzz target runs for a few seconds, so that they keep
# building and a reader that breaks on its corpus is caught.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
export KORVA_TEST_START=$(date +%s)

# The Windows build comes first: the Linux tests compare korva.exe with korva
# and drive it through Wine's HID bus.
for preset in windows default asan tsan; do
    echo "== configure + build: $preset ($(( $(date +%s) - KORVA_TEST_START )) s)"
    cmake --preset "$preset" > /dev/null
    cmake --build --preset "$preset" -j "$jobs"
done

# One virtual display for the whole run, with a window manager on it as on a
# user's desktop (openbox); the tests find it through DISPLAY. It never resets: by default the server starts over whenever its last client
# leaves, and a test connecting just then loses its connection.
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp -noreset" \
    scripts/with-window-manager.sh scripts/run-ctest.sh windows default asan tsan
echo "== fuzz targets, ${KORVA_TEST_FUZZ_SECONDS:-3} s each ($(( $(date +%s) - KORVA_TEST_START )) s)"
FUZZ_SECONDS=${KORVA_TEST_FUZZ_SECONDS:-3} scripts/fuzz.sh
echo "== all tests passed ($(( $(date +%s) - KORVA_TEST_START )) s)"
