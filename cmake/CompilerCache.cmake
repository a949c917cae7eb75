# ccache, shared by every build tree and git worktree of the project: paths
# below the source folder are hashed relative to it, and the build folder's
# own path is left out of the hash.
find_program(CCACHE_PROGRAM ccache)
if(CCACHE_PROGRAM)
    set(_korva_launcher "${CMAKE_COMMAND}" -E env CCACHE_NOHASHDIR=1 "CCACHE_BASEDIR=${PROJECT_SOURCE_DIR}"
        "${CCACHE_PROGRAM}")
    set(CMAKE_C_COMPILER_LAUNCHER ${_korva_launcher})
    set(CMAKE_CXX_COMPILER_LAUNCHER ${_korva_launcher})
endif()
