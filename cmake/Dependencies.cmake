# JUCE comes from Debian's juce-modules-source package; never a vendored copy.
find_package(JUCE 7.0.5 CONFIG REQUIRED)
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
pkg_check_modules(UDEV REQUIRED IMPORTED_TARGET libudev)

# Debian's JUCE ships without the bundled zlib, libjpeg and libpng sources:
# the modules use the system libraries, which we link ourselves.
pkg_check_modules(ZLIB REQUIRED IMPORTED_TARGET zlib)
pkg_check_modules(JPEG REQUIRED IMPORTED_TARGET libjpeg)
pkg_check_modules(PNG REQUIRED IMPORTED_TARGET libpng)
pkg_check_modules(X11 REQUIRED IMPORTED_TARGET x11)
