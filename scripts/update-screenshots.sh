#!/usr/bin/env bash
# Takes the user's manual's pictures of the three pages anew: the real
# program under a virtual X display, connected to a virtual KORVA with the
# demo projects, two of them copied to the computer. The PNGs go to
# docs/manual/screenshots, from where the manual's build takes them.
#
# KORVA_BUILD_DIR chooses another build tree than build/.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${KORVA_BUILD_DIR:-build}
cmake --build "$build" -j 2 --target korva_manual_screenshots > /dev/null

folder=$PWD/docs/manual/screenshots
mkdir -p "$folder"
KORVA_SCREENSHOT_DIR=$folder xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp -noreset" \
    "$build/bin/korva_manual_screenshots"
ls -l "$folder"
