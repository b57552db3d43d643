# The man page renders without a warning from man and groff, and documents every option that
# `ostrim --help` lists.
#   cmake -DMAN=man -DPAGE=ostrim.1 -DPROGRAM=ostrim -P check_man_page.cmake

cmake_minimum_required(VERSION 3.25)

if(NOT MAN)
  message(FATAL_ERROR "man is missing; scripts/install-deps.sh installs man-db")
endif()
set(ENV{MANWIDTH} 80)
set(ENV{LC_ALL} C.UTF-8)
execute_process(COMMAND "${MAN}" --warnings -E UTF-8 -l "${PAGE}"
  RESULT_VARIABLE result OUTPUT_VARIABLE rendered ERROR_VARIABLE warnings)
if(NOT result EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "man --warnings -l ${PAGE}: ${result}\n${warnings}")
endif()

execute_process(COMMAND "${PROGRAM}" --help
  RESULT_VARIABLE result OUTPUT_VARIABLE help ERROR_VARIABLE help)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "ostrim --help: ${result}\n${help}")
endif()
string(REGEX MATCHALL "--[a-z-]+" options "${help}")
list(REMOVE_DUPLICATES options)
# man renders the hyphens of \-\- as plain hyphens with a UTF-8 locale.
foreach(option IN LISTS options)
  string(FIND "${rendered}" "${option}" at)
  if(at LESS 0)
    message(FATAL_ERROR "the man page does not document ${option}")
  endif()
endforeach()
