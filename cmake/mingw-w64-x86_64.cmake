# Cross-build for 64-bit Windows with MinGW-w64 (posix thread model). The C
# and C++ runtimes and winpthread are linked statically, so every .exe runs
# on its own and imports only system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TV_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TV_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TV_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TV_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests and test discovery run the executables through Wine, in a session of
# this build tree's own (see tools/wine/run).
get_filename_component(_tv_wine_run ${CMAKE_CURRENT_LIST_DIR}/../tools/wine/run ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${_tv_wine_run} --root ${CMAKE_BINARY_DIR}/wine)
