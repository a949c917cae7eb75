enable_testing()
if(WIN32)
    # No MinGW package of GoogleTest: Debian's sources, built with the
    # program (they define GTest::gtest and GTest::gmock).
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
else()
    find_package(GTest REQUIRED)
endif()
include(GoogleTest)
