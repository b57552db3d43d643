# Every file of others that a shipped program is built from is named in the notices that go with
# it, one copyright file or more: each archive and object in the programs' link maps and each
# header their sources include (the compiler's dependency files) must match a Files: pattern of
# the notices that is an absolute file name. The programs' own files, and those covered by the copyright files of the packages
# the program depends on at run time (COVERED_ELSEWHERE), are left out.
#   cmake -DNOTICES="copyright;..." -DMAPS="a.map;b.map" -DDEPFILE_DIRS="dir;..." -DOURS="dir;..."
#         [-DCOVERED_ELSEWHERE="glob;..."] -P check_notices.cmake

cmake_minimum_required(VERSION 3.25)
# The real file, whatever ../ and links a name passes through (the linker names its start files
# through the compiler's folder).
if(POLICY CMP0152)
  cmake_policy(SET CMP0152 NEW)
endif()

function(glob_to_regex glob out)
  string(REGEX REPLACE "([.+^$()|{}])" "\\\\\\1" regex "${glob}")
  string(REPLACE "*" ".*" regex "${regex}")
  string(REPLACE "?" "." regex "${regex}")
  set(${out} "^${regex}$" PARENT_SCOPE)
endfunction()

# The Files: fields' patterns, continuation lines included.
set(lines)
foreach(notices_file IN LISTS NOTICES)
  file(STRINGS ${notices_file} file_lines)
  list(APPEND lines ${file_lines})
endforeach()
set(notices)
set(in_files FALSE)
foreach(line IN LISTS lines)
  if(line MATCHES "^Files:(.*)")
    set(in_files TRUE)
    set(line "${CMAKE_MATCH_1}")
  elseif(NOT line MATCHES "^[ \t]")
    set(in_files FALSE)
  endif()
  if(in_files)
    string(REGEX MATCHALL "/[^ \t]+" patterns "${line}")
    foreach(pattern IN LISTS patterns)
      glob_to_regex("${pattern}" regex)
      list(APPEND notices "${regex}")
    endforeach()
  endif()
endforeach()
foreach(pattern IN LISTS COVERED_ELSEWHERE)
  glob_to_regex("${pattern}" regex)
  list(APPEND covered "${regex}")
endforeach()

# What the linker took: the archives it took members from, and the objects it loaded.
set(inputs)
foreach(map IN LISTS MAPS)
  file(STRINGS ${map} map_lines)
  foreach(line IN LISTS map_lines)
    if(line MATCHES "^(/[^(]+\\.a)\\(")
      list(APPEND inputs "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^LOAD (/.*\\.(o|obj|so[.0-9]*))$")
      list(APPEND inputs "${CMAKE_MATCH_1}")
    endif()
  endforeach()
endforeach()
# What the compiler read.
foreach(dir IN LISTS DEPFILE_DIRS)
  file(GLOB_RECURSE depfiles ${dir}/*.d)
  foreach(depfile IN LISTS depfiles)
    file(READ ${depfile} content)
    # Absolute names only: the object each file describes is named relative to the build.
    string(REGEX MATCHALL "[ \t\n]/[^ \t\r\n\\\\]+" headers "${content}")
    foreach(header IN LISTS headers)
      string(STRIP "${header}" header)
      # Newer CMake also writes the linker's inputs into a dependency file, each again as an
      # empty rule ("name:").
      string(REGEX REPLACE ":$" "" header "${header}")
      list(APPEND inputs "${header}")
    endforeach()
  endforeach()
endforeach()
list(REMOVE_DUPLICATES inputs)
list(LENGTH inputs count)
if(count EQUAL 0)
  message(FATAL_ERROR "no link map or dependency file names any input: ${MAPS} ${DEPFILE_DIRS}")
endif()

set(missing)
foreach(input IN LISTS inputs)
  file(REAL_PATH "${input}" file)
  set(skip FALSE)
  foreach(dir IN LISTS OURS)
    cmake_path(IS_PREFIX dir "${file}" NORMALIZE ours)
    if(ours)
      set(skip TRUE)
    endif()
  endforeach()
  foreach(regex IN LISTS notices covered)
    if(file MATCHES "${regex}")
      set(skip TRUE)
    endif()
  endforeach()
  if(NOT skip)
    list(APPEND missing "${file}")
  endif()
endforeach()
if(missing)
  list(REMOVE_DUPLICATES missing)
  list(JOIN missing "\n  " missing)
  message(FATAL_ERROR
    "the programs are built from these files, which no notice in ${NOTICES} names:\n  ${missing}")
endif()
