# Build speed for the several builds of one checkout (release, ASan, fuzz,
# Windows) and for the next checkout: a compiler cache where ccache is
# installed, and precompiled headers for the targets that parse Boost.Beast
# and Asio or GoogleTest in many files. Neither changes what is built;
# -DBRASTOK_CCACHE=OFF and -DBRASTOK_PCH=OFF turn them off. Included by the
# top-level CMakeLists.txt before any target; the headers are applied to
# targets by name once every target is defined.

option(BRASTOK_CCACHE "Compile through ccache when it is installed" ON)
option(BRASTOK_PCH "Precompile the heavy library headers of some targets" ON)
set(BRASTOK_CCACHE_MAXSIZE "4G" CACHE STRING "The most the compiler cache keeps")

find_program(BRASTOK_CCACHE_PROGRAM ccache)
if(BRASTOK_CCACHE AND BRASTOK_CCACHE_PROGRAM AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  # Paths inside the checkout are hashed relative to it, and the build
  # folder is not hashed, so that a fresh checkout in another folder finds
  # what the previous one stored (debug info may then name that folder).
  # The sloppiness is what ccache needs to cache the users of precompiled
  # headers.
  set(CMAKE_CXX_COMPILER_LAUNCHER
      ${CMAKE_COMMAND} -E env CCACHE_BASEDIR=${PROJECT_SOURCE_DIR} CCACHE_NOHASHDIR=1
      CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
      CCACHE_MAXSIZE=${BRASTOK_CCACHE_MAXSIZE} ${BRASTOK_CCACHE_PROGRAM})
endif()

# Precompiles HEADERS for TARGET, if the build defines it.
function(BRASTOK_PRECOMPILE TARGET)
  if(TARGET ${TARGET})
    target_precompile_headers(${TARGET} PRIVATE ${ARGN})
  endif()
endfunction()

# The headers every file of these targets may include on every platform
# (<utility> before Asio's headers, which need it on MinGW). OpenSSL's are
# left out: the Windows build has none.
function(BRASTOK_SPEED_TARGETS)
  # Not for the Windows programs, built once in a while.
  if(NOT BRASTOK_PCH OR WIN32)
    return()
  endif()
  set(BOOSTHEADERS
      <utility> <boost/asio/awaitable.hpp> <boost/asio/co_spawn.hpp> <boost/asio/io_context.hpp>
      <boost/asio/ip/tcp.hpp> <boost/asio/steady_timer.hpp> <boost/beast/core.hpp>
      <boost/beast/http.hpp>)
  set(TESTHEADERS <gtest/gtest.h> <nlohmann/json.hpp> <functional> <string> <vector>)
  brastok_precompile(brastok_web ${BOOSTHEADERS})
  brastok_precompile(brastok_hosting ${BOOSTHEADERS} <nlohmann/json.hpp>)
  brastok_precompile(brastok_tests ${TESTHEADERS})
  brastok_precompile(brastok_hosting_tests ${TESTHEADERS} ${BOOSTHEADERS})
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL brastok_speed_targets)
