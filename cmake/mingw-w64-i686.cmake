# Cross-compiling to 32-bit Windows with Debian's mingw-w64, posix thread variant (the win32
# variant lacks std::thread and std::mutex, which GoogleTest needs). Executables are linked
# statically, so they import system DLLs only. Tests run through wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(MARROWBY_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${MARROWBY_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MARROWBY_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MARROWBY_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MARROWBY_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Tests run through wine where the host has it; elsewhere the whole suite runs in the kernel
# rig's guest (the windows-guest preset), and building needs no wine at all.
find_program(MARROWBY_WINE wine)
if(MARROWBY_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${MARROWBY_WINE})
endif()

# GCC 12 warns of overlapping copies inside std::string concatenation at -O3 on this target, a
# known false positive of that compiler (GCC bug 105329).
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")
