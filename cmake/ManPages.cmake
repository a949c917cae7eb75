# Manual pages for korva and korva-sim, made by help2man (Debian's package)
# from the built programs' own --help and --version, so that a page never says
# something the program does not. korva's page also carries every command's
# --help (tools/korva/ManPageCommands.py). The pages land gzipped in
# build*/man, from where Packaging.cmake installs them.
find_program(KORVA_HELP2MAN help2man)
find_program(KORVA_GZIP gzip)
find_program(KORVA_SYSTEM_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT KORVA_HELP2MAN OR NOT KORVA_GZIP OR NOT KORVA_SYSTEM_PYTHON)
    message(WARNING "help2man, gzip or python3 not found: the manual pages are not built")
    return()
endif()

set(KORVA_MAN_DIR "${CMAKE_BINARY_DIR}/man")
set(KORVA_MAN_PAGES "${KORVA_MAN_DIR}/korva.1.gz" "${KORVA_MAN_DIR}/korva-sim.1.gz")

add_custom_command(
    OUTPUT "${KORVA_MAN_DIR}/korva.1.gz"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${KORVA_MAN_DIR}"
    COMMAND "${KORVA_SYSTEM_PYTHON}" "${PROJECT_SOURCE_DIR}/tools/korva/ManPageCommands.py" "$<TARGET_FILE:korva>"
            "${KORVA_MAN_DIR}/korva-commands.h2m"
    COMMAND "${KORVA_HELP2MAN}" --no-info --section 1
            --name "talk to the KORVA step sequencer and convert its patterns and MIDI files"
            --include "${KORVA_MAN_DIR}/korva-commands.h2m"
            --output "${KORVA_MAN_DIR}/korva.1" "$<TARGET_FILE:korva>"
    COMMAND "${KORVA_GZIP}" -9 -n -f "${KORVA_MAN_DIR}/korva.1"
    DEPENDS korva "${PROJECT_SOURCE_DIR}/tools/korva/ManPageCommands.py"
    COMMENT "Making the manual page of korva"
    VERBATIM)

add_custom_command(
    OUTPUT "${KORVA_MAN_DIR}/korva-sim.1.gz"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${KORVA_MAN_DIR}"
    COMMAND "${KORVA_HELP2MAN}" --no-info --section 1 --name "a virtual KORVA step sequencer"
            --output "${KORVA_MAN_DIR}/korva-sim.1" "$<TARGET_FILE:korva-sim>"
    COMMAND "${KORVA_GZIP}" -9 -n -f "${KORVA_MAN_DIR}/korva-sim.1"
    DEPENDS korva-sim
    COMMENT "Making the manual page of korva-sim"
    VERBATIM)

add_custom_target(korva_man_pages ALL DEPENDS ${KORVA_MAN_PAGES})
