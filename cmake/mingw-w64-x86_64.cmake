# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64-posix: the
# posix thread model, which std::thread and std::mutex need).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARVOK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TARVOK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARVOK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVOK_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${TARVOK_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${TARVOK_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")

# Libraries and headers come from the target's root (and the third-party prefix the build
# adds to CMAKE_PREFIX_PATH), programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${TARVOK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained executables: no libstdc++, libgcc or winpthread DLLs to ship beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine on the build machine.
find_program(TARVOK_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TARVOK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARVOK_WINE})
endif()
