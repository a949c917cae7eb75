# JUCE is compiled exactly once per build tree, into two shared libraries:
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

function(korva_add_juce_library name)
    cmake_parse_arguments(ARG "" "" "MODULES;DEPENDS" ${ARGN})
    add_library(${name} SHARED)

    foreach(module IN LISTS ARG_MODULES)
        get_target_property(sources ${module} INTERFACE_SOURCES)
        get_target_property(definitions ${module} INTERFACE_COMPILE_DEFINITIONS)
        get_target_property(libraries ${module} INTERFACE_LINK_LIBRARIES)
        target_sources(${name} PRIVATE ${sources})
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
