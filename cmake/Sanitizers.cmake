# One option per sanitizer. They apply to everything, JUCE included, so that
# ThreadSanitizer sees every lock and AddressSanitizer every allocation.
option(KORVA_ASAN "Build with AddressSanitizer" OFF)
option(KORVA_UBSAN "Build with UndefinedBehaviorSanitizer" OFF)
option(KORVA_TSAN "Build with ThreadSanitizer" OFF)

if(KORVA_TSAN AND (KORVA_ASAN OR KORVA_UBSAN))
    message(FATAL_ERROR "ThreadSanitizer cannot be combined with Address/UndefinedBehavior sanitizers")
endif()

set(_korva_sanitize "")
if(KORVA_ASAN)
    list(APPEND _korva_sanitize address)
endif()
if(KORVA_UBSAN)
    list(APPEND _korva_sanitize undefined)
endif()
if(KORVA_TSAN)
    list(APPEND _korva_sanitize thread)
endif()

if(_korva_sanitize)
    list(JOIN _korva_sanitize "," _korva_sanitize_list)
    add_compile_options(-fsanitize=${_korva_sanitize_list} -fno-omit-frame-pointer)
    add_link_options(-fsanitize=${_korva_sanitize_list})
    if(KORVA_UBSAN)
        # JUCE's MemoryBlock compares and copies empty blocks with
        # memcmp/memcpy (nullptr, nullptr, 0): harmless, but flagged by the
        # non-null attribute check, which is therefore left out.
        add_compile_options(-fno-sanitize-recover=undefined -fno-sanitize=nonnull-attribute)
    endif()
endif()

if(KORVA_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "The fuzzing build needs clang (the fuzz preset uses clang-14)")
    endif()
    if(KORVA_ASAN OR KORVA_UBSAN OR KORVA_TSAN)
        message(FATAL_ERROR "KORVA_FUZZ brings its own sanitizers")
    endif()
    # Everything is instrumented for coverage and checked by AddressSanitizer
    # and UndefinedBehaviorSanitizer; only the fuzz targets link libFuzzer's
    # main (fuzz/CMakeLists.txt). Any undefined behaviour aborts, so the
    # fuzzer reports it as a crash; the non-null attribute check is left out
    # for JUCE's empty MemoryBlocks, as above.
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
        -fno-sanitize=nonnull-attribute -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
