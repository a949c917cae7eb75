#!/usr/bin/env bash
# Installs what building, running and testing KORVA Manager needs on Debian 12.
# Does nothing when everything is present; uses sudo when not run as root.
set -euo pipefail

packages=(
    # toolchain
    g++ make cmake pkg-config ccache dpkg-dev
    patch # applies cmake/juce-*.patch to copies of JUCE's sources
    # JUCE 7.0.5 from Debian (pulls in the X11, freetype and ALSA headers it needs)
    juce-modules-source zlib1g-dev libjpeg-dev libpng-dev
    # device access
    libudev-dev libx11-dev
    # tests and benchmarks
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    libxtst-dev # real pointer events for the drag-and-drop tests
    fuse3 libfuse3-dev # the emulated hidraw KORVA's device node
    # the fuzz targets (make fuzz): clang and its libFuzzer and sanitizer
    # runtimes (libclang-rt-14-dev holds libFuzzer for -fsanitize=fuzzer)
    clang-14 libclang-rt-14-dev
    # an independent MIDI file parser for the korva tool tests
    python3-mido
    # a display for the GUI tests, and the program's sans-serif typeface
    xvfb xauth fonts-liberation2
    openbox # the desktop tests run under a window manager, as on users' desktops
    # opening the manual with the desktop's PDF viewer
    xdg-utils
    zenity # the folder chooser of the project page
    # the user's manual (PDF) and the tools' manual pages
    python3 python3-markdown weasyprint help2man
    # the package test
    desktop-file-utils x11-utils
    # scripts/measure-idle.sh finds the window and shows the ABOUT page
    xdotool
    # the Windows build (make windows): MinGW-w64 with posix threads, its
    # zlib, and Wine 8 to run the Windows tests on this machine
    g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
