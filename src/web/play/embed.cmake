# Assembles the browser game page from its modules and writes it as a C++
# source defining WEB_PLAYPAGE:
#   cmake -DOUT=build/playpage.cpp [-DHTML=build/play.html] -P src/web/play/embed.cmake
# The modules are plain scripts that share one namespace; they go into the
# page's one inline script in this order, each after those it uses.
cmake_minimum_required(VERSION 3.16)
if(NOT OUT)
  message(FATAL_ERROR "embed.cmake: give -DOUT=path/of/the/source.cpp")
endif()
set(DIR "${CMAKE_CURRENT_LIST_DIR}")
set(MODULES protocol world prediction art render hud input game)

file(READ "${DIR}/page.html" PAGE)
set(SCRIPT "")
foreach(M IN LISTS MODULES)
  file(READ "${DIR}/${M}.js" TEXT)
  string(APPEND SCRIPT "// ---- ${M}.js ----\n${TEXT}\n")
endforeach()
# The script is inline: it must not close its own element.
string(TOLOWER "${SCRIPT}" LOWER)
string(FIND "${LOWER}" "</script" AT)
if(NOT AT EQUAL -1)
  message(FATAL_ERROR "embed.cmake: a module contains </script")
endif()
string(FIND "${PAGE}" "/*@MODULES@*/" AT)
if(AT EQUAL -1)
  message(FATAL_ERROR "embed.cmake: page.html has no /*@MODULES@*/ place")
endif()
string(REPLACE "/*@MODULES@*/" "${SCRIPT}" PAGE "${PAGE}")
if(HTML)
  file(WRITE "${HTML}" "${PAGE}")
endif()

# A raw string delimiter that the text does not hold.
set(DELIM "PLAY")
while(TRUE)
  string(FIND "${PAGE}" ")${DELIM}\"" AT)
  if(AT EQUAL -1)
    break()
  endif()
  string(APPEND DELIM "X")
endwhile()

# Pieces of at most 8000 characters, which every compiler takes as one
# literal; the compiler joins adjacent literals into one string.
string(LENGTH "${PAGE}" LEN)
set(BODY "")
set(POS 0)
while(POS LESS LEN)
  string(SUBSTRING "${PAGE}" ${POS} 8000 PIECE)
  string(APPEND BODY "R\"${DELIM}(${PIECE})${DELIM}\"\n")
  math(EXPR POS "${POS} + 8000")
endwhile()
file(WRITE "${OUT}.tmp"
  "// Made by src/web/play/embed.cmake from src/web/play/*.js and page.html;\n"
  "// edit those, not this file.\n"
  "extern const char* const WEB_PLAYPAGE;\n"
  "const char* const WEB_PLAYPAGE =\n${BODY};\n")
# Rewritten only when it changes, so a build does not recompile for nothing.
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
