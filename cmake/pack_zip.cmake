# Packs files into a zip that is the same bytes wherever and whenever it is made: members in the
# order given, each with the time SOURCE_DATE_EPOCH names (the time of packing where it is unset),
# mode 755 for programs and 644 for the rest whatever the umask, and no extra fields (zip -X:
# no owner, no access or change time).
#   cmake -DZIP=out.zip -DZIP_TOOL=zip -DFILES="a;b" -P pack_zip.cmake   (in the files' folder)

cmake_minimum_required(VERSION 3.25)

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(time $ENV{SOURCE_DATE_EPOCH})
else()
  string(TIMESTAMP time "%s" UTC)
endif()
foreach(file IN LISTS FILES)
  if(file MATCHES "\\.(exe|com)$")
    file(CHMOD ${file} FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
      GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  else()
    file(CHMOD ${file} FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  endif()
  execute_process(COMMAND touch -d @${time} ${file} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
file(REMOVE ${ZIP})
# zip writes local times: in UTC they are the same on every build machine.
execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${ZIP_TOOL} -q -X -D -9 ${ZIP} ${FILES}
  COMMAND_ERROR_IS_FATAL ANY)
