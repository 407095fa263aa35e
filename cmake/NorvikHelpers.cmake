# Helpers shared by every CMakeLists.txt of the project.

# Adds every direct subfolder of DIR that has a CMakeLists.txt, in name order,
# so a new library, simulator or test folder needs no edit elsewhere.
function(norvik_add_subdirectories dir)
    file(GLOB children CONFIGURE_DEPENDS LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}/${dir}
         ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*)
    list(SORT children)
    foreach(child IN LISTS children)
        if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/${child}/CMakeLists.txt)
            add_subdirectory(${dir}/${child})
        endif()
    endforeach()
endfunction()

# norvik_add_library(<name> SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...] [INCLUDE_DIRS ...]
#                    [STANDALONE])
# A static, position-independent in-tree library that the shared library
# libnorviklink.so links whole (unless STANDALONE, as for the stand-ins in
# sim/). Tests and simulators link the same target.
function(norvik_add_library name)
    cmake_parse_arguments(ARG "STANDALONE" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS;INCLUDE_DIRS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    add_library(Norvik::${name} ALIAS ${name})
    if(ARG_INCLUDE_DIRS)
        target_include_directories(${name} PUBLIC ${ARG_INCLUDE_DIRS})
    else()
        target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    endif()
    target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
    if(NOT ARG_STANDALONE)
        set_property(GLOBAL APPEND PROPERTY NORVIK_LIBRARIES ${name})
    endif()
endfunction()

# norvik_add_test(<name> [SOURCES ...] [LIBS ...] LABEL unit|integration|e2e [TIMEOUT s] [RUN_SERIAL])
# A test is <name>.cpp unless SOURCES say otherwise; it links the library, the stand-ins
# and the shared fixtures.
function(norvik_add_test name)
    cmake_parse_arguments(ARG "RUN_SERIAL" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
    if(NOT ARG_SOURCES)
        set(ARG_SOURCES ${name}.cpp)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt5::Test norvik_testcommon ${ARG_LIBS})
    if(NORVIK_SANITIZE MATCHES "thread")
        find_package(Python3 REQUIRED COMPONENTS Interpreter)
        add_test(NAME ${name} COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/scripts/tsan_check.py
                 $<TARGET_FILE:${name}>)
    else()
        add_test(NAME ${name} COMMAND ${name})
    endif()
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    if(CMAKE_CROSSCOMPILING_EMULATOR)
        # Under emulation every instruction costs several; the test itself is unchanged.
        math(EXPR ARG_TIMEOUT "${ARG_TIMEOUT} * ${NORVIK_EMULATOR_TIMEOUT_FACTOR}")
    endif()
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABEL}" TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_FORCE_STDERR_LOGGING=1")
    if(ARG_RUN_SERIAL)
        set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
    endif()
endfunction()

# Timeouts of tests that run through CMAKE_CROSSCOMPILING_EMULATOR are this many times
# their own.
set(NORVIK_EMULATOR_TIMEOUT_FACTOR 4 CACHE STRING "Test timeout factor under emulation")

# Under qemu-arm every program runs with a small preloaded library that lets Qt start
# child processes (see emulator-nopidfd.c).
if(CMAKE_CROSSCOMPILING_EMULATOR)
    add_library(norvik_emulator_nopidfd SHARED ${CMAKE_CURRENT_LIST_DIR}/emulator-nopidfd.c)
    set_target_properties(norvik_emulator_nopidfd PROPERTIES
        LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
    target_link_libraries(norvik_emulator_nopidfd PRIVATE ${CMAKE_DL_LIBS})
    list(APPEND CMAKE_CROSSCOMPILING_EMULATOR
        -E LD_PRELOAD=${CMAKE_BINARY_DIR}/libnorvik_emulator_nopidfd.so)
endif()

# norvik_emulator_definition(<target>)
# Code of <target> that starts one of the project's own programs as a process prefixes
# the words of NORVIK_EMULATOR (separated by "|") in a cross build; without an emulator
# it is not defined.
function(norvik_emulator_definition target)
    if(CMAKE_CROSSCOMPILING_EMULATOR)
        string(REPLACE ";" "|" emulator "${CMAKE_CROSSCOMPILING_EMULATOR}")
        target_compile_definitions(${target} PRIVATE NORVIK_EMULATOR="${emulator}")
    endif()
endfunction()
