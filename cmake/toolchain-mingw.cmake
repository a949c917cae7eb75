# Cross-builds the Windows program with Debian's MinGW-w64 (GCC, posix
# threads: std::thread and std::mutex need them). The tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# JUCE's CMake package is the build machine's (it only describes sources).
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Programs need only the system's DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest (and test discovery) run the .exe files through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh")

# Debian's JUCE package sits below the build machine's multiarch folder.
file(GLOB _korva_juce_dirs /usr/lib/*/cmake/JUCE-7.0.5)
if(_korva_juce_dirs)
    list(GET _korva_juce_dirs 0 JUCE_DIR)
endif()
