# What both Windows toolchains share; QVL_MINGW_TRIPLE names the target.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QVL_MINGW_TRIPLE})
# The posix thread model gives std::thread and std::mutex; the win32 one does not.
set(CMAKE_C_COMPILER ${QVL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QVL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QVL_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QVL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Statically linked, so that an .exe needs nothing but the system's own DLLs (no libstdc++,
# libgcc or winpthread DLL beside it).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Tests (and qvl-get checks) run the programs through wine; cmake/wine-run keeps wine's
# background processes off ctest's pipes.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
