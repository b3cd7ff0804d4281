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

# The header-only libraries, CLI11, nlohmann-json and Boost (Beast and Asio
# for the HTTP side), are the host's Debian packages. Their headers and
# package files are linked into a folder of the build, alone, so that the
# Windows compiler finds them without ever seeing the host's /usr/include
# (its glibc headers do not fit Windows).
set(BRASTOK_HOSTHEADERS ${CMAKE_BINARY_DIR}/host-headers)
if(NOT CMAKE_IN_TRY_COMPILE)
  file(MAKE_DIRECTORY ${BRASTOK_HOSTHEADERS}/include ${BRASTOK_HOSTHEADERS}/share/cmake)
  foreach(HEADERS CLI nlohmann boost)
    if(EXISTS /usr/include/${HEADERS})
      file(CREATE_LINK /usr/include/${HEADERS} ${BRASTOK_HOSTHEADERS}/include/${HEADERS} SYMBOLIC)
    endif()
  endforeach()
  foreach(PACKAGE CLI11 nlohmann_json)
    if(EXISTS /usr/share/cmake/${PACKAGE})
      file(CREATE_LINK /usr/share/cmake/${PACKAGE} ${BRASTOK_HOSTHEADERS}/share/cmake/${PACKAGE}
           SYMBOLIC)
    endif()
    # The package file finds its headers relative to where it was found.
    set(${PACKAGE}_DIR ${BRASTOK_HOSTHEADERS}/share/cmake/${PACKAGE})
  endforeach()
endif()
