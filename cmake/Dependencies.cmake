# JUCE comes from Debian's juce-modules-source package; never a vendored copy.
find_package(JUCE 7.0.5 CONFIG REQUIRED)
find_package(Threads REQUIRED)

if(WIN32)
    # The Windows build is headless: zlib from MinGW-w64 (libz-mingw-w64-dev)
    # for JUCE's core, and the system's own libraries.
    find_library(KORVA_MINGW_ZLIB NAMES libz.a z REQUIRED)
    add_library(korva_zlib INTERFACE)
    target_link_libraries(korva_zlib INTERFACE "${KORVA_MINGW_ZLIB}")
    add_library(PkgConfig::ZLIB ALIAS korva_zlib)
    return()
endif()

find_package(PkgConfig REQUIRED)
pkg_check_modules(UDEV REQUIRED IMPORTED_TARGET libudev)

# Debian's JUCE ships without the bundled zlib, libjpeg and libpng sources:
# the modules use the system libraries, which we link ourselves.
pkg_check_modules(ZLIB REQUIRED IMPORTED_TARGET zlib)
pkg_check_modules(JPEG REQUIRED IMPORTED_TARGET libjpeg)
pkg_check_modules(PNG REQUIRED IMPORTED_TARGET libpng)
pkg_check_modules(X11 REQUIRED IMPORTED_TARGET x11)
