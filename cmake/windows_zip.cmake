# The zip a Windows user unpacks and runs from, ostrim-<version>-windows-x64.zip in the build
# folder: the programs, stripped of their debugging information, beside a readme and the
# copyright notice, all at its top level so that Explorer's "Extract All" gives one folder.
#
#   ostrim_windows_zip(PROGRAMS target...)
function(ostrim_windows_zip)
  cmake_parse_arguments(ZIP "" "" "PROGRAMS" ${ARGN})
  set(name ostrim-${PROJECT_VERSION}-windows-x64)
  set(stage ${PROJECT_BINARY_DIR}/${name})
  set(zip ${PROJECT_BINARY_DIR}/${name}.zip)

  # Windows text files: CRLF, so that every editor shows the lines, and a .txt name that
  # Explorer opens on a double click. The copyright file has no @-names to replace.
  configure_file(${PROJECT_SOURCE_DIR}/resources/README-windows.txt.in
    ${stage}/README-windows.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(${PROJECT_SOURCE_DIR}/resources/copyright ${stage}/copyright.txt
    @ONLY NEWLINE_STYLE CRLF)

  set(files)
  set(strip_commands)
  foreach(program IN LISTS ZIP_PROGRAMS)
    list(APPEND files $<TARGET_FILE_NAME:${program}>)
    list(APPEND strip_commands COMMAND ${CMAKE_STRIP} -o ${stage}/$<TARGET_FILE_NAME:${program}>
      $<TARGET_FILE:${program}>)
  endforeach()
  list(APPEND files README-windows.txt copyright.txt)

  add_custom_command(OUTPUT ${zip}
    ${strip_commands}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${zip}
    COMMAND ${CMAKE_COMMAND} -E tar cf ${zip} --format=zip ${files}
    WORKING_DIRECTORY ${stage}
    DEPENDS ${ZIP_PROGRAMS} ${stage}/README-windows.txt ${stage}/copyright.txt
    COMMENT "Packing ${name}.zip"
    VERBATIM)
  add_custom_target(ostrim_windows_zip ALL DEPENDS ${zip})
  set(OSTRIM_WINDOWS_ZIP ${zip} PARENT_SCOPE)
endfunction()
