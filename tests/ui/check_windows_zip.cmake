# What a Windows user unpacks: one folder holding exactly the programs, their readme and the
# notices; the programs the ones just built (a zip that missed a rebuild would ship an old one);
# the text files in Windows line endings, the readme naming this version; the notices plain text,
# with every copyright holder and every licence text of the copyright files they are made from,
# but none of their fields and no file of the build machine.
#   cmake -DZIP=... -DFOLDER=ostrim-1.0.0 -DPROGRAM=Ostrim.exe -DCONSOLE_PROGRAM=ostrim.com
#         -DSTRIP=... -DNOTICE_SOURCES="copyright;..." -DVERSION_TEXT=1.00 -DSCRATCH=dir
#         -P check_windows_zip.cmake

cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${ZIP}
  RESULT_VARIABLE result OUTPUT_VARIABLE listing ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cannot list ${ZIP}: ${errors}")
endif()
string(REGEX REPLACE "\n$" "" listing "${listing}")
string(REPLACE "\n" ";" names "${listing}")
list(SORT names)
set(expected ${FOLDER}/Ostrim.exe ${FOLDER}/README-windows.txt ${FOLDER}/notices.txt
  ${FOLDER}/ostrim.com)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "the zip holds [${names}], not [${expected}]")
endif()

file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH}/unpacked)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${ZIP}
  WORKING_DIRECTORY ${SCRATCH}/unpacked COMMAND_ERROR_IS_FATAL ANY)

# A program file's bytes, but for the two fields strip writes afresh each time: the time stamp
# and the checksum of the PE header.
function(read_program path out)
  file(READ ${path} pe_offset OFFSET 60 LIMIT 4 HEX)
  string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" pe_offset ${pe_offset})
  file(READ ${path} content HEX)
  foreach(field 8 88) # from the "PE" signature; in hex digits below
    math(EXPR at "(0x${pe_offset} + ${field}) * 2")
    string(SUBSTRING "${content}" 0 ${at} before)
    math(EXPR at "${at} + 8")
    string(SUBSTRING "${content}" ${at} -1 after)
    set(content "${before}xxxxxxxx${after}")
  endforeach()
  set(${out} "${content}" PARENT_SCOPE)
endfunction()

foreach(program ${PROGRAM} ${CONSOLE_PROGRAM})
  get_filename_component(name ${program} NAME)
  execute_process(COMMAND ${STRIP} -o ${SCRATCH}/built-${name} ${program} COMMAND_ERROR_IS_FATAL ANY)
  read_program(${SCRATCH}/built-${name} built)
  read_program(${SCRATCH}/unpacked/${FOLDER}/${name} shipped)
  if(NOT built STREQUAL shipped)
    message(FATAL_ERROR "the zip's ${name} is not the program just built, stripped")
  endif()
endforeach()

# Read as hex: a text read drops the carriage returns. The texts are ASCII, so "0d" and "0a"
# can only be whole bytes.
foreach(text README-windows.txt notices.txt)
  file(READ ${SCRATCH}/unpacked/${FOLDER}/${text} content HEX)
  string(REPLACE "0d0a" "" without_crlf "${content}")
  if(without_crlf MATCHES "0d|0a" OR content STREQUAL "")
    message(FATAL_ERROR "${text} has line ends other than CRLF")
  endif()
endforeach()
file(STRINGS ${SCRATCH}/unpacked/${FOLDER}/README-windows.txt first LIMIT_COUNT 1)
if(NOT first STREQUAL "Ostrim ${VERSION_TEXT} for Windows")
  message(FATAL_ERROR "README-windows.txt begins \"${first}\", without this version")
endif()

file(READ ${SCRATCH}/unpacked/${FOLDER}/notices.txt shipped)
string(REPLACE "\r\n" "\n" shipped "${shipped}")
if(NOT shipped MATCHES "^Ostrim ${VERSION_TEXT}")
  message(FATAL_ERROR "notices.txt does not begin with this version's name")
endif()
string(FIND "${shipped}" "/usr/" at)
if(NOT at EQUAL -1)
  string(SUBSTRING "${shipped}" ${at} 60 where)
  message(FATAL_ERROR "notices.txt names a file of the build machine: ${where}")
endif()
if(shipped MATCHES "(^|\n)(Format|Upstream-Name|Upstream-Contact|Source|Files|Copyright|License|Comment|Disclaimer):")
  message(FATAL_ERROR "notices.txt has the field ${CMAKE_MATCH_2}: of a Debian copyright file")
endif()
# Every field's text in the sources, as a reader finds it: a licence's text whole, with its
# paragraphs, and each copyright holder's line.
foreach(source IN LISTS NOTICE_SOURCES)
  file(READ ${source} content)
  string(REPLACE ";" "<semicolon>" content "${content}")
  string(REPLACE "\n" ";" lines "${content}")
  list(APPEND lines "") # ends the last field
  set(field "")
  set(text "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^ ")
      if(field STREQUAL "License")
        if(line STREQUAL " .")
          set(line "")
        endif()
        string(REGEX REPLACE "^ " "" line "${line}")
        string(APPEND text "${line}\n")
      elseif(field STREQUAL "Copyright")
        string(STRIP "${line}" line)
        list(APPEND holders "${line}")
      endif()
      continue()
    endif()
    if(field STREQUAL "License" AND text)
      string(REPLACE "<semicolon>" ";" text "${text}")
      string(FIND "${shipped}" "${text}" at)
      if(at EQUAL -1)
        message(FATAL_ERROR "notices.txt lacks the licence text that begins:\n${text}")
      endif()
    endif()
    set(field "")
    set(text "")
    if(line MATCHES "^(License|Copyright):(.*)")
      set(field ${CMAKE_MATCH_1})
      string(STRIP "${CMAKE_MATCH_2}" value)
      if(field STREQUAL "Copyright" AND NOT value STREQUAL "public-domain")
        list(APPEND holders "${value}")
      endif()
    endif()
  endforeach()
endforeach()
foreach(holder IN LISTS holders)
  string(REPLACE "<semicolon>" ";" holder "${holder}")
  string(FIND "${shipped}" "${holder}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "notices.txt does not name the copyright holder \"${holder}\"")
  endif()
endforeach()
