# JUCE is compiled exactly once per build tree, into two libraries (shared on
# Linux; static in the Windows build, whose programs carry everything):
#   korva_juce_core - the headless modules (no display needed)
#   korva_juce_gui  - graphics and GUI, on top of korva_juce_core
# Everything else (our libraries, the app, the tools, the tests) links these.
#
# JUCE's module targets carry their sources as usage requirements, and each
# module pulls in the modules it depends on; linking them would compile the
# core modules a second time into the GUI library. So each library takes the
# sources, definitions and system libraries of its own modules only.

set(KORVA_JUCE_CONFIG
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_USE_CURL=0
    JUCE_WEB_BROWSER=0
    JUCE_MODAL_LOOPS_PERMITTED=1
    JUCE_STANDALONE_APPLICATION=1
    JUCE_REPORT_APP_USAGE=0
    # Debug builds would otherwise print "JUCE v7.0.5" on standard error at
    # start-up, which the korva tool keeps for its own one-line errors.
    JUCE_DISABLE_JUCE_VERSION_PRINTING=1)

set(KORVA_JUCE_MODULES juce_core juce_events juce_data_structures juce_cryptography juce_graphics juce_gui_basics)

# A few of Debian's JUCE files are compiled with our patches applied (each
# says what it changes and why). The files it touches are copied with their
# module's main file into the build tree and patched there; the copies are
# only rewritten when their text changes, so a reconfigure rebuilds nothing.
set(KORVA_JUCE_PATCHES
    "${CMAKE_CURRENT_LIST_DIR}/juce-idle.patch"
    "${CMAKE_CURRENT_LIST_DIR}/juce-desktop.patch")
set(KORVA_JUCE_PATCHED_FILES
    juce_core/juce_core.cpp
    juce_core/threads/juce_TimeSliceThread.cpp
    juce_events/juce_events.cpp
    juce_events/timers/juce_Timer.cpp
    juce_events/native/juce_linux_Messaging.cpp
    juce_gui_basics/juce_gui_basics.cpp
    juce_gui_basics/native/juce_linux_Windowing.cpp
    juce_gui_basics/native/x11/juce_linux_XWindowSystem.cpp
    juce_gui_basics/windows/juce_ComponentPeer.cpp
    juce_gui_basics/windows/juce_TopLevelWindow.cpp)
set(KORVA_JUCE_PATCHED_DIR "${CMAKE_BINARY_DIR}/juce-patched")
set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KORVA_JUCE_PATCHES})

function(korva_patch_juce)
    find_program(KORVA_PATCH_PROGRAM patch REQUIRED)
    set(staging "${CMAKE_BINARY_DIR}/juce-patched-staging")
    file(REMOVE_RECURSE "${staging}")
    foreach(file IN LISTS KORVA_JUCE_PATCHED_FILES)
        get_filename_component(folder "${staging}/${file}" DIRECTORY)
        file(MAKE_DIRECTORY "${folder}")
        file(COPY_FILE "${JUCE_MODULES_DIR}/${file}" "${staging}/${file}")
    endforeach()
    set(patch_hashes "")
    foreach(patch IN LISTS KORVA_JUCE_PATCHES)
        execute_process(COMMAND "${KORVA_PATCH_PROGRAM}" -p1 --forward --batch --input "${patch}"
            WORKING_DIRECTORY "${staging}" RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
        if(NOT status EQUAL 0)
            message(FATAL_ERROR "${patch} does not apply to the JUCE in ${JUCE_MODULES_DIR}:\n${output}")
        endif()
        file(SHA256 "${patch}" hash)
        string(APPEND patch_hashes " ${hash}")
    endforeach()
    # A module's main file includes the others: it names the patches it was
    # built with, so that a changed patch (or another file patched, which
    # shadows an original the build has not seen change) rebuilds the module.
    foreach(file IN LISTS KORVA_JUCE_PATCHED_FILES)
        if(file MATCHES "^([a-z_]+)/([a-z_]+)\\.cpp$" AND CMAKE_MATCH_1 STREQUAL CMAKE_MATCH_2)
            file(READ "${staging}/${file}" text)
            file(WRITE "${staging}/${file}" "// KORVA's JUCE patches:${patch_hashes}\n${text}")
        endif()
    endforeach()
    foreach(file IN LISTS KORVA_JUCE_PATCHED_FILES)
        get_filename_component(folder "${KORVA_JUCE_PATCHED_DIR}/${file}" DIRECTORY)
        file(MAKE_DIRECTORY "${folder}")
        file(COPY_FILE "${staging}/${file}" "${KORVA_JUCE_PATCHED_DIR}/${file}" ONLY_IF_DIFFERENT)
    endforeach()
    file(REMOVE_RECURSE "${staging}")
endfunction()
korva_patch_juce()

# A module's main file, or its patched copy. The copy's own folder comes first
# for its quoted includes; the module's folder serves the files left as they are.
function(korva_juce_module_source source out)
    file(RELATIVE_PATH relative "${JUCE_MODULES_DIR}" "${source}")
    if(relative IN_LIST KORVA_JUCE_PATCHED_FILES)
        get_filename_component(module "${relative}" DIRECTORY)
        set(copy "${KORVA_JUCE_PATCHED_DIR}/${relative}")
        set_source_files_properties("${copy}" PROPERTIES COMPILE_OPTIONS "-iquote;${JUCE_MODULES_DIR}/${module}")
        set(${out} "${copy}" PARENT_SCOPE)
    else()
        set(${out} "${source}" PARENT_SCOPE)
    endif()
endfunction()

function(korva_add_juce_library name)
    cmake_parse_arguments(ARG "" "" "MODULES;DEPENDS" ${ARGN})
    add_library(${name} ${KORVA_LIBRARY_TYPE})

    foreach(module IN LISTS ARG_MODULES)
        get_target_property(sources ${module} INTERFACE_SOURCES)
        get_target_property(definitions ${module} INTERFACE_COMPILE_DEFINITIONS)
        get_target_property(libraries ${module} INTERFACE_LINK_LIBRARIES)
        set(chosen "")
        foreach(source IN LISTS sources)
            korva_juce_module_source("${source}" source)
            list(APPEND chosen "${source}")
        endforeach()
        target_sources(${name} PRIVATE ${chosen})
        target_compile_definitions(${name} PUBLIC ${definitions})
        foreach(library IN LISTS libraries)
            string(REPLACE "juce::" "" bare "${library}")
            if(NOT bare IN_LIST KORVA_JUCE_MODULES)
                target_link_libraries(${name} PUBLIC ${library})
            endif()
        endforeach()
    endforeach()

    target_include_directories(${name} SYSTEM PUBLIC "${JUCE_MODULES_DIR}")
    target_compile_definitions(${name} PUBLIC ${KORVA_JUCE_CONFIG})
    target_link_libraries(${name} PUBLIC ${ARG_DEPENDS} juce::juce_recommended_config_flags Threads::Threads)
endfunction()

korva_add_juce_library(korva_juce_core
    MODULES juce_core juce_events juce_data_structures juce_cryptography)

if(WIN32)
    target_link_libraries(korva_juce_core PUBLIC PkgConfig::ZLIB)
    return() # the Windows build is headless
endif()

if(KORVA_FUZZ)
    return() # the fuzzing build has no GUI
endif()

korva_add_juce_library(korva_juce_gui
    MODULES juce_graphics juce_gui_basics
    DEPENDS korva_juce_core PkgConfig::JPEG PkgConfig::PNG)

if(KORVA_UBSAN)
    # JUCE's GIF decoder reads the two bytes before its buffer when it starts
    # on the first data block (GIFLoader::getCode); they are never used. Every
    # drag out of the window on X11 decodes JUCE's own drag cursor, a GIF, so
    # the bounds check is left out of the graphics module, and only there.
    set_source_files_properties("${JUCE_MODULES_DIR}/juce_graphics/juce_graphics.cpp"
        TARGET_DIRECTORY korva_juce_gui PROPERTIES COMPILE_OPTIONS "-fno-sanitize=bounds")
endif()
