# Cross-compiles the Windows programs with Debian's MinGW-w64 (the posix
# thread model, so std::thread works):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BRASTOK_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${BRASTOK_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BRASTOK_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${BRASTOK_MINGW}-windres)

# Headers and libraries come from the MinGW tree only, never from the host's
# /usr/include: its glibc headers do not fit a Windows program.
set(CMAKE_FIND_ROOT_PATH /usr/${BRASTOK_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every .exe carries its C++ runtime and thread library inside, so it runs
# on a bare Windows without MinGW's DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
