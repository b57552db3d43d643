# The zip a Windows user unpacks and runs from, ostrim-<version>-windows-x64.zip in the build
# folder: one folder ostrim-<version>/ holding the programs, stripped of their debugging
# information, a readme and the notices, so that Explorer's "Extract All" gives that one folder.
#
#   ostrim_windows_zip(PROGRAMS target...)
function(ostrim_windows_zip)
  cmake_parse_arguments(ZIP "" "" "PROGRAMS" ${ARGN})
  set(folder ostrim-${PROJECT_VERSION})
  set(name ${folder}-windows-x64)
  set(stage ${PROJECT_BINARY_DIR}/zip)
  set(zip ${PROJECT_BINARY_DIR}/${name}.zip)

  # Windows text files: CRLF, so that every editor shows the lines, and a .txt name that
  # Explorer opens on a double click. The notices are Ostrim's copyright file and those of the
  # runtime that the programs link statically, as plain text.
  configure_file(${PROJECT_SOURCE_DIR}/resources/README-windows.txt.in
    ${stage}/${folder}/README-windows.txt @ONLY NEWLINE_STYLE CRLF)
  set(notices ${PROJECT_SOURCE_DIR}/resources/copyright
    ${PROJECT_SOURCE_DIR}/resources/notices-windows)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${notices}
    ${PROJECT_SOURCE_DIR}/cmake/plain_notices.cmake)
  include(${PROJECT_SOURCE_DIR}/cmake/plain_notices.cmake)
  ostrim_plain_notices(TITLE "Ostrim ${OSTRIM_VERSION_TEXT}: who holds the rights, and the terms"
    OUTPUT ${stage}/notices.txt.plain SOURCES ${notices})
  file(READ ${stage}/notices.txt.plain text)
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${stage}/notices.txt.new "${text}")
  file(COPY_FILE ${stage}/notices.txt.new ${stage}/${folder}/notices.txt ONLY_IF_DIFFERENT)
  set(OSTRIM_WINDOWS_NOTICES ${stage}/${folder}/notices.txt PARENT_SCOPE)
  set(OSTRIM_WINDOWS_NOTICE_SOURCES ${notices} PARENT_SCOPE)

  set(files)
  set(strip_commands)
  foreach(program IN LISTS ZIP_PROGRAMS)
    list(APPEND files ${folder}/$<TARGET_FILE_NAME:${program}>)
    list(APPEND strip_commands COMMAND ${CMAKE_STRIP}
      -o ${stage}/${folder}/$<TARGET_FILE_NAME:${program}> $<TARGET_FILE:${program}>)
  endforeach()
  list(APPEND files ${folder}/README-windows.txt ${folder}/notices.txt)

  find_program(OSTRIM_ZIP zip REQUIRED)
  add_custom_command(OUTPUT ${zip}
    ${strip_commands}
    COMMAND ${CMAKE_COMMAND} -DZIP=${zip} -DZIP_TOOL=${OSTRIM_ZIP} "-DFILES=${files}"
      -P ${PROJECT_SOURCE_DIR}/cmake/pack_zip.cmake
    WORKING_DIRECTORY ${stage}
    DEPENDS ${ZIP_PROGRAMS} ${stage}/${folder}/README-windows.txt
      ${stage}/${folder}/notices.txt ${PROJECT_SOURCE_DIR}/cmake/pack_zip.cmake
    COMMENT "Packing ${name}.zip"
    VERBATIM)
  add_custom_target(ostrim_windows_zip ALL DEPENDS ${zip})
  set(OSTRIM_WINDOWS_ZIP ${zip} PARENT_SCOPE)
endfunction()
