#!/usr/bin/env bash
# Builds and runs every test: the optimised build, then all tests again under
# AddressSanitizer + UndefinedBehaviorSanitizer, then the concurrency tests under
# ThreadSanitizer. GUI tests get a virtual X display from Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
start=$(date +%s)

stamp() { echo "== $* ($(( $(date +%s) - start )) s)"; }

for preset in default asan tsan; do
    stamp "configure + build: $preset"
    cmake --preset "$preset" > /dev/null
    cmake --build --preset "$preset" -j "$jobs"
done

run_tests() {
    for preset in default asan tsan; do
        stamp "tests: $preset"
        ctest --preset "$preset"
    done
}

export -f run_tests stamp
export start
# One virtual display for the whole run; the tests find it through DISPLAY.
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" bash -c run_tests
stamp "all tests passed"
