# SPDX-License-Identifier: GPL-3.0-or-later
# Cross build for 64-bit Windows with Debian's mingw-w64 (package
# g++-mingw-w64-x86-64-posix):
#
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The posix thread model is the one whose libstdc++ has std::thread and
# std::mutex. Executables are linked statically (libstdc++, libgcc and
# winpthreads included), so an .exe runs on a bare Windows, or under wine,
# without any DLL beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LUMBRA_MINGW_TRIPLET x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${LUMBRA_MINGW_TRIPLET}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${LUMBRA_MINGW_TRIPLET}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${LUMBRA_MINGW_TRIPLET}-windres REQUIRED)

# Headers and libraries only from the mingw sysroot; programs (zstd, ccache)
# from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${LUMBRA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")


# -O2 for Release: at -O3 GCC 12 reports a false -Warray-bounds inside
# libstdc++'s vector::insert (inlined into the test record builders), which
# -Werror would turn into a failed build.
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags for Release builds")
