# What a Windows user unpacks: one folder holding exactly the programs, their readme and the
# notices; the programs the ones just built (a zip that missed a rebuild would ship an old one);
# the text files in Windows line endings, the readme naming this version, the notices beginning
# with the copyright file.
#   cmake -DZIP=... -DFOLDER=ostrim-1.0.0 -DPROGRAM=Ostrim.exe -DCONSOLE_PROGRAM=ostrim.com
#         -DSTRIP=... -DCOPYRIGHT=... -DVERSION_TEXT=1.00 -DSCRATCH=dir -P check_windows_zip.cmake

cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${ZIP}
  RESULT_VARIABLE result OUTPUT_VARIABLE listing ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cannot list ${ZIP}: ${errors}")
endif()
string(REGEX REPLACE "\n$" "" listing "${listing}")
string(REPLACE "\n" ";" names "${listing}")
list(SORT names)
set(expected ${FOLDER}/Ostrim.exe ${FOLDER}/README-windows.txt ${FOLDER}/copyright.txt
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
foreach(text README-windows.txt copyright.txt)
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
file(READ ${SCRATCH}/unpacked/${FOLDER}/copyright.txt shipped)
file(READ ${COPYRIGHT} original)
string(FIND "${shipped}" "${original}" at)
if(NOT at EQUAL 0)
  message(FATAL_ERROR "copyright.txt does not begin with the copyright file")
endif()
