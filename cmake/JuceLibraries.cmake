# JUCE is compiled exactly once per build tree, into two shared libraries:
#   korva_juce_core - the headless modules (no display needed)
#   korva_juce_gui  - graphics and GUI, on top of korva_juce_core
# Everything else (our libraries, the app, the tools, the tests) links these.

set(KORVA_JUCE_CONFIG
    JUCE_DISPLAY_SPLASH_SCREEN=0
    JUCE_USE_CURL=0
    JUCE_WEB_BROWSER=0
    JUCE_MODAL_LOOPS_PERMITTED=1
    JUCE_STANDALONE_APPLICATION=1
    JUCE_REPORT_APP_USAGE=0
    JUCE_USE_XSHM=1
    # Debug builds would otherwise print "JUCE v7.0.5" on standard error at
    # start-up, which the korva tool keeps for its own one-line errors.
    JUCE_DISABLE_JUCE_VERSION_PRINTING=1
    JUCE_SILENCE_XCODE_15_LINKER_WARNING=1)

function(korva_add_juce_library name)
    cmake_parse_arguments(ARG "" "" "MODULES;DEPENDS" ${ARGN})
    add_library(${name} SHARED)
    target_link_libraries(${name}
        PRIVATE ${ARG_MODULES}
        PUBLIC ${ARG_DEPENDS} juce::juce_recommended_config_flags Threads::Threads)
    target_compile_definitions(${name} PUBLIC ${KORVA_JUCE_CONFIG})
    # Consumers need the modules' headers and definitions, never their sources.
    target_include_directories(${name} SYSTEM INTERFACE $<TARGET_PROPERTY:${name},INCLUDE_DIRECTORIES>)
    target_compile_definitions(${name} INTERFACE $<TARGET_PROPERTY:${name},COMPILE_DEFINITIONS>)
    set_target_properties(${name} PROPERTIES VISIBILITY_INLINES_HIDDEN OFF)
endfunction()

korva_add_juce_library(korva_juce_core
    MODULES juce::juce_core juce::juce_events juce::juce_data_structures juce::juce_cryptography
    DEPENDS PkgConfig::ZLIB)

korva_add_juce_library(korva_juce_gui
    MODULES juce::juce_graphics juce::juce_gui_basics
    DEPENDS korva_juce_core PkgConfig::JPEG PkgConfig::PNG)
