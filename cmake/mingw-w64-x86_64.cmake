# Cross build for 64-bit Windows with Debian's mingw-w64 (g++, POSIX threads
# variant, so std::thread and std::mutex work as on Linux).
#
#   cmake -S . -B build-windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DQUORVANE_BUILD_UI=OFF \
#         -DQUORVANE_RTMIDI_SOURCE_DIR=<RtMidi source> -DQUORVANE_GTEST_SOURCE_DIR=/usr/src/googletest
#
# scripts/windows-check.sh does all of this and runs the result under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)

# Libraries and headers come from the mingw-w64 tree only; programs (pkg-config,
# sh) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config looks at the mingw-w64 tree alone: a library found through it is
# one built for Windows, never the build machine's (JACK, ALSA, ...).
set(ENV{PKG_CONFIG_LIBDIR} /usr/${MINGW_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Self-contained programs: the C++ runtime, libgcc and winpthreads linked in, so
# an .exe runs without the compiler's DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest and GoogleTest's discovery run the programs under wine when it is there.
find_program(QUORVANE_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(QUORVANE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUORVANE_WINE})
endif()
