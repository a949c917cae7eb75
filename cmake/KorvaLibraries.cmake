# korva_core: infrastructure, device link, engine, MIDI and project files.
# It runs without a display and never links the GUI modules.
add_library(korva_core ${KORVA_LIBRARY_TYPE})
target_include_directories(korva_core PUBLIC "${PROJECT_SOURCE_DIR}")
target_link_libraries(korva_core PUBLIC korva_juce_core PRIVATE korva_warnings)
target_compile_definitions(korva_core PUBLIC KORVA_VERSION_STRING="${PROJECT_VERSION}")

if(KORVA_FUZZ OR WIN32)
    return() # the fuzzing build and the Windows build have no GUI
endif()

# korva_gui: the application shell, pages, dialogs and widgets.
add_library(korva_gui SHARED)
target_link_libraries(korva_gui PUBLIC korva_core korva_juce_gui PRIVATE korva_warnings)
