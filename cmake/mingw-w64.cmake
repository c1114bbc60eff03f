# Cross-build for 64-bit Windows with Debian's mingw-w64 (the POSIX-thread flavour,
# whose libstdc++ has std::thread and std::mutex):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DZEMLARO_GUI=OFF -DZEMLARO_BENCH=OFF
# The programs link libgcc, libstdc++ and winpthread statically, so that an .exe runs
# (under Wine too) with the system's own DLLs only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZEMLARO_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZEMLARO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZEMLARO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZEMLARO_MINGW_TRIPLE}-windres)

# Libraries and packages come from the mingw-w64 sysroot only, never from the build
# machine's /usr; programs (the code generators) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${ZEMLARO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static takes winpthread's archive in place of libwinpthread-1.dll.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# What ctest runs the test programs with, when it is asked to run them here.
find_program(ZEMLARO_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(ZEMLARO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZEMLARO_WINE})
endif()
