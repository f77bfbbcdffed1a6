# Shared build settings for every target of the project.

function(tickerly_warnings target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual)
    if(TICKERLY_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

# tickerly_library(NAME <target> ALIAS <alias> [SHARED|STATIC|MODULE])
# Makes a library with hidden visibility and a generated export header <target>_export.h.
function(tickerly_library target)
    cmake_parse_arguments(ARG "SHARED;STATIC;OBJECT;MODULE" "ALIAS" "" ${ARGN})
    if(ARG_MODULE)
        add_library(${target} MODULE)
    elseif(ARG_STATIC)
        add_library(${target} STATIC)
    elseif(ARG_OBJECT)
        add_library(${target} OBJECT)
    else()
        add_library(${target} SHARED)
    endif()
    if(ARG_ALIAS)
        add_library(${ARG_ALIAS} ALIAS ${target})
    endif()
    string(TOLOWER ${target} lower)
    generate_export_header(${target} EXPORT_FILE_NAME ${CMAKE_CURRENT_BINARY_DIR}/include/${lower}_export.h)
    if(ARG_STATIC OR ARG_OBJECT)
        string(TOUPPER ${target} upper)
        target_compile_definitions(${target} PUBLIC ${upper}_STATIC_DEFINE)
    endif()
    # Headers are included by their path from the top of the tree ("platform/foundation/base/Url.h").
    # A deliverable whose parts are not written yet still builds, from one empty unit.
    set(placeholder ${CMAKE_CURRENT_BINARY_DIR}/${target}_placeholder.cpp)
    file(CONFIGURE OUTPUT ${placeholder} CONTENT "// Generated: keeps the target buildable.\n")
    target_sources(${target} PRIVATE ${placeholder})
    target_include_directories(${target} PUBLIC
        ${PROJECT_SOURCE_DIR}
        ${CMAKE_CURRENT_BINARY_DIR}/include)
    tickerly_warnings(${target})
endfunction()

# tickerly_test(<target> SOURCES ... LIBS ... LABEL unit|integration|ui [RESOURCE_LOCK <name>])
# The test main picks the offscreen platform and finds the source tree and corpus by itself.
# Tests that take the same RESOURCE_LOCK never run at the same time (for example those that send
# or hear a fixed notification on the shared session bus); every ui test takes "display" too.
function(tickerly_test target)
    cmake_parse_arguments(ARG "" "LABEL;RESOURCE_LOCK" "SOURCES;LIBS" ${ARGN})
    if(NOT TICKERLY_TESTS)
        return()
    endif()
    if(NOT ARG_LABEL)
        set(ARG_LABEL unit)
    endif()
    add_executable(${target} ${ARG_SOURCES})
    target_link_libraries(${target} PRIVATE Tickerly::TestSupport ${ARG_LIBS})
    tickerly_warnings(${target})
    # The time limit only catches a hang: far above what a test takes on a busy machine, and
    # above every wait inside a test.
    gtest_discover_tests(${target}
        DISCOVERY_TIMEOUT 60
        TEST_LIST ${target}_tests
        PROPERTIES LABELS ${ARG_LABEL} TIMEOUT 300)
    set(locks ${ARG_RESOURCE_LOCK})
    # View tests take turns on the display. Under a real X server every test program shares
    # one pointer, one keyboard focus and one stacking of windows (all opening in the middle of
    # the screen): a window another program activates takes a test's focus, and one it shows
    # lies between a test's window and the pointer.
    if(ARG_LABEL STREQUAL "ui")
        list(APPEND locks display)
    endif()
    if(locks)
        # Set once the tests are discovered: PROPERTIES above hands on no list of two locks.
        set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}_locks.cmake)
        file(WRITE ${script}
            "if(${target}_tests)\n"
            "    set_tests_properties(\${${target}_tests} PROPERTIES RESOURCE_LOCK \"${locks}\")\n"
            "endif()\n")
        set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
    endif()
endfunction()

# tickerly_fuzz_target(<name> SOURCE <file> LIBS ... CORPUS <dir>)
# Under libFuzzer (clang) builds a fuzzer; otherwise a replay program that runs every
# file of the corpus through the target once, registered as a test.
function(tickerly_fuzz_target name)
    cmake_parse_arguments(ARG "" "SOURCE;CORPUS" "LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCE})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    tickerly_warnings(${name})
    if(TICKERLY_FUZZ)
        target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
        target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    else()
        target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
        if(TICKERLY_TESTS)
            add_test(NAME fuzz_replay.${name} COMMAND ${name} ${ARG_CORPUS})
            set_tests_properties(fuzz_replay.${name} PROPERTIES LABELS fuzz TIMEOUT 300)
        endif()
    endif()
endfunction()

# tickerly_drawn_resources(<name> CONSUMER <target> PREFIX <prefix> FILES <file> ...
#                          [SEQUENCES <pattern> <count> ...])
# Draws each file with tickerly_resgen at build time and compiles them in under ":/<prefix>/"
# (a sequence such as "Wave_%05i.png" 128 is drawn whole by one run of the generator)
# (pictures under "images", found by imageNamed()). The objects go into every program that
# links <consumer>, so resources of a static library are not dropped by the linker.
function(tickerly_drawn_resources name)
    cmake_parse_arguments(ARG "" "CONSUMER;PREFIX" "FILES;SEQUENCES" ${ARGN})
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/drawn_${name})
    set(outputs)
    set(entries)
    while(ARG_SEQUENCES)
        list(POP_FRONT ARG_SEQUENCES pattern count)
        set(frames)
        math(EXPR last "${count} - 1")
        foreach(i RANGE ${last})
            string(LENGTH "${i}" digits)
            math(EXPR padding "5 - ${digits}")
            string(REPEAT "0" ${padding} zeros)
            string(REPLACE "%05i" "${zeros}${i}" frame "${pattern}")
            list(APPEND frames "${dir}/${frame}")
            string(APPEND entries "<file>${frame}</file>")
        endforeach()
        add_custom_command(
            OUTPUT ${frames}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
            COMMAND tickerly_resgen --sequence "${pattern}" ${count} "${dir}"
            DEPENDS tickerly_resgen
            VERBATIM)
        list(APPEND outputs ${frames})
    endwhile()
    foreach(file IN LISTS ARG_FILES)
        add_custom_command(
            OUTPUT "${dir}/${file}"
            COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
            COMMAND tickerly_resgen "${file}" "${dir}/${file}"
            DEPENDS tickerly_resgen
            VERBATIM)
        list(APPEND outputs "${dir}/${file}")
        string(APPEND entries "<file>${file}</file>")
    endforeach()
    file(CONFIGURE OUTPUT ${dir}/${name}.qrc CONTENT
        "<RCC><qresource prefix=\"/${ARG_PREFIX}\">${entries}</qresource></RCC>\n")
    add_custom_command(
        OUTPUT ${dir}/qrc_${name}.cpp
        COMMAND Qt6::rcc --name tickerly_${name} --output ${dir}/qrc_${name}.cpp ${dir}/${name}.qrc
        DEPENDS ${dir}/${name}.qrc ${outputs}
        VERBATIM)
    add_library(tickerly_drawn_${name} OBJECT ${dir}/qrc_${name}.cpp)
    set_target_properties(tickerly_drawn_${name} PROPERTIES
        AUTOMOC OFF AUTORCC OFF POSITION_INDEPENDENT_CODE ON)
    target_link_libraries(tickerly_drawn_${name} PRIVATE Qt6::Core)
    get_target_property(type ${ARG_CONSUMER} TYPE)
    if(type STREQUAL "STATIC_LIBRARY" OR type STREQUAL "OBJECT_LIBRARY")
        target_sources(${ARG_CONSUMER} INTERFACE $<TARGET_OBJECTS:tickerly_drawn_${name}>)
    else()
        target_sources(${ARG_CONSUMER} PRIVATE $<TARGET_OBJECTS:tickerly_drawn_${name}>)
    endif()
endfunction()
