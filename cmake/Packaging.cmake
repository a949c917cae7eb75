# Installation layout and the Debian package (`make package`).
#
#   /usr/lib/korva-manager/     the programs, our shared libraries, Resource/ and Manual/
#   /usr/bin/                   small launchers for korva-manager, korva and korva-sim
#   /usr/lib/udev/rules.d/      the rule that lets a desktop user open the KORVA
#   /usr/share/applications/    the desktop entry; /usr/share/icons/hicolor the icons
#   /usr/share/man/man1/        the manual pages of korva and korva-sim

set(KORVA_PRIVATE_DIR "lib/korva-manager")
set(KORVA_LIBRARIES korva_juce_core korva_juce_gui korva_core korva_gui)
set(KORVA_PROGRAMS korva-manager korva korva-sim)

foreach(target IN LISTS KORVA_LIBRARIES KORVA_PROGRAMS)
    if(TARGET ${target})
        set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
        install(TARGETS ${target}
            RUNTIME DESTINATION ${KORVA_PRIVATE_DIR}
            LIBRARY DESTINATION ${KORVA_PRIVATE_DIR}
            COMPONENT korva)
    endif()
endforeach()

foreach(program IN LISTS KORVA_PROGRAMS)
    if(TARGET ${program})
        set(KORVA_PROGRAM ${program})
        configure_file("${PROJECT_SOURCE_DIR}/packaging/launcher.in" "${CMAKE_BINARY_DIR}/launchers/${program}" @ONLY)
        install(PROGRAMS "${CMAKE_BINARY_DIR}/launchers/${program}" DESTINATION bin COMPONENT korva)
    endif()
endforeach()

install(DIRECTORY "${CMAKE_BINARY_DIR}/bin/Resource" DESTINATION ${KORVA_PRIVATE_DIR} COMPONENT korva)
install(DIRECTORY "${CMAKE_BINARY_DIR}/bin/Manual" DESTINATION ${KORVA_PRIVATE_DIR} COMPONENT korva OPTIONAL)
install(FILES "${PROJECT_SOURCE_DIR}/packaging/korva-manager.desktop" DESTINATION share/applications COMPONENT korva)
install(DIRECTORY "${CMAKE_BINARY_DIR}/icons/hicolor" DESTINATION share/icons COMPONENT korva)
if(EXISTS "${PROJECT_SOURCE_DIR}/packaging/udev/70-korva.rules")
    install(FILES "${PROJECT_SOURCE_DIR}/packaging/udev/70-korva.rules" DESTINATION lib/udev/rules.d COMPONENT korva)
endif()
install(FILES "${PROJECT_SOURCE_DIR}/LICENSE" DESTINATION share/doc/korva-manager RENAME copyright COMPONENT korva)
if(TARGET korva_man_pages)
    install(FILES ${KORVA_MAN_PAGES} DESTINATION share/man/man1 COMPONENT korva)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korva-manager)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "MELDRA")
set(CPACK_PACKAGE_CONTACT "KORVA Manager developers <korva-manager@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop companion of the KORVA step sequencer")
set(CPACK_PACKAGE_DESCRIPTION "KORVA Manager lists, copies, renames and deletes the projects of a KORVA \
step sequencer, turns its current pattern into a Standard MIDI File and sends MIDI files to it as patterns. \
Includes the korva command-line tool and korva-sim, a virtual KORVA.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${CMAKE_BINARY_DIR}/lib")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xdg-utils, fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "zenity")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# Our libraries are private (found through the programs' run path), so no
# ldconfig; the scripts only make udev take the rule into account.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${PROJECT_SOURCE_DIR}/packaging/postinst;${PROJECT_SOURCE_DIR}/packaging/postrm")
include(CPack)
