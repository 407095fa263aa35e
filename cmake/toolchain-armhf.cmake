# Cross build for the remote's board: 32-bit ARM, hard-float (armhf), Cortex-A9,
# Debian 12 userland. Compiler: Debian's arm-linux-gnueabihf-gcc/g++.
#
# The armhf libraries (Qt and what it needs) come from one of two places:
#   NORVIK_ARMHF_SYSROOT  a folder with Debian's armhf packages unpacked into it
#                         (scripts/test-armhf.sh makes one); its usr/lib/qt5/bin
#                         points at the host's moc and rcc of the same Qt version
#   otherwise             the host's multiarch folders (packages installed as pkg:armhf)
#
# Executables run through qemu-arm with a Cortex-A9 CPU model: ctest starts every
# test through CMAKE_CROSSCOMPILING_EMULATOR, and tests that start one of the
# project's own programs get the same command as NORVIK_EMULATOR.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

# GCC notes that passing some structures changed ABI in GCC 7.1; everything here is
# built by one compiler, so the note says nothing about this code.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")

# try_compile projects read this file again; hand them the sysroot too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NORVIK_ARMHF_SYSROOT)

set(_norvik_emulator qemu-arm -cpu cortex-a9)
if(NORVIK_ARMHF_SYSROOT)
    if(NOT IS_DIRECTORY "${NORVIK_ARMHF_SYSROOT}/usr/lib/arm-linux-gnueabihf")
        message(FATAL_ERROR "NORVIK_ARMHF_SYSROOT=${NORVIK_ARMHF_SYSROOT} holds no armhf libraries")
    endif()
    # Headers and libraries from the folder, programs (moc, rcc) from the host.
    set(CMAKE_FIND_ROOT_PATH "${NORVIK_ARMHF_SYSROOT}")
    set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
    set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
    set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
    set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
    # The compiler keeps its own C library; the folder's libraries resolve their
    # dependencies (ICU, PCRE2, ...) among themselves.
    set(_norvik_rpath_link
        "-Wl,-rpath-link,${NORVIK_ARMHF_SYSROOT}/lib/arm-linux-gnueabihf -Wl,-rpath-link,${NORVIK_ARMHF_SYSROOT}/usr/lib/arm-linux-gnueabihf")
    string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " ${_norvik_rpath_link}")
    string(APPEND CMAKE_SHARED_LINKER_FLAGS_INIT " ${_norvik_rpath_link}")
    string(APPEND CMAKE_MODULE_LINKER_FLAGS_INIT " ${_norvik_rpath_link}")
    # qemu-arm looks up the loader and every library under the folder first. It does
    # not do so for statx, with which the QML engine looks for its modules: those are
    # named by their place in the folder.
    list(APPEND _norvik_emulator -L "${NORVIK_ARMHF_SYSROOT}"
        -E "QML2_IMPORT_PATH=${NORVIK_ARMHF_SYSROOT}/usr/lib/arm-linux-gnueabihf/qt5/qml")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${_norvik_emulator})
