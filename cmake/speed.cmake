# Build speed for the several builds of one checkout (release, ASan, clang
# fuzz, MinGW) and for the next checkout: every compile goes through ccache
# where it is installed (scripts/deps.sh installs it). It changes nothing in
# what is built; -DBRASTOK_CCACHE=OFF turns it off. Included by the
# top-level CMakeLists.txt before any target.
#
# No precompiled headers: they would save only the parse of Boost.Beast and
# Asio (about 6 s of the 38 s web/http.cpp takes at -O3; the rest is
# instantiation and code generation), and GCC 12 then reports false
# -Wstringop-overflow errors in std::string concatenations of the tests.

option(BRASTOK_CCACHE "Compile through ccache when it is installed" ON)
set(BRASTOK_CCACHE_MAXSIZE "4G" CACHE STRING "The most the compiler cache keeps")

find_program(BRASTOK_CCACHE_PROGRAM ccache)
if(BRASTOK_CCACHE AND BRASTOK_CCACHE_PROGRAM AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  # Paths inside the checkout are hashed relative to it, and the build
  # folder is not hashed, so that a fresh checkout in another folder finds
  # what the previous one stored (debug info may then name that folder).
  # So no compile definition may hold a path of the checkout: the tests take
  # theirs from one generated file (tests/support/testpaths.hpp).
  set(CMAKE_CXX_COMPILER_LAUNCHER
      ${CMAKE_COMMAND} -E env CCACHE_BASEDIR=${PROJECT_SOURCE_DIR} CCACHE_NOHASHDIR=1
      CCACHE_MAXSIZE=${BRASTOK_CCACHE_MAXSIZE} ${BRASTOK_CCACHE_PROGRAM})
endif()
