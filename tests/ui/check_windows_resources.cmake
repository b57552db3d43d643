# Compiles the Windows resource script as a Windows build would, then reads the compiled
# resources back and checks the version block and that the icon holds every image; and reads the
# icon file itself: every image in it 32 bits per pixel, as its directory says and as its own
# header or PNG header says, which is what Windows reads.
#   cmake -DWINDRES=... -DCPP=... -DSCRIPT=ostrim.rc -DOUTPUT=ostrim.res -DICO=ostrim.ico
#         -DICON_SIZES="32;16" -P ...

cmake_minimum_required(VERSION 3.25)

# windres runs the script through a C preprocessor; the host compiler serves where the MinGW one
# is not installed, since the script includes no Windows headers.
set(preprocess --preprocessor=${CPP} --preprocessor-arg=-E --preprocessor-arg=-xc
  --preprocessor-arg=-DRC_INVOKED)
execute_process(COMMAND "${WINDRES}" ${preprocess} -i "${SCRIPT}" -o "${OUTPUT}"
  RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "windres could not compile ${SCRIPT}: ${errors}")
endif()
execute_process(COMMAND "${WINDRES}" -i "${OUTPUT}" -O rc
  RESULT_VARIABLE result OUTPUT_VARIABLE compiled ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "windres could not read back ${OUTPUT}: ${errors}")
endif()

foreach(expected
    "FILEVERSION ${VERSION_NUMBERS}"
    "PRODUCTVERSION ${VERSION_NUMBERS}"
    "BLOCK \"040904B0\""
    "VALUE \"FileVersion\", \"${VERSION_TEXT}\""
    "VALUE \"ProductVersion\", \"${VERSION_TEXT}\""
    "VALUE \"CompanyName\", \"Ostrim\""
    "VALUE \"ProductName\", \"Ostrim\""
    "VALUE \"InternalName\", \"Ostrim\""
    "VALUE \"OriginalFilename\", \"Ostrim.exe\""
    "VALUE \"Translation\", 0x409, 1200"
    "LANGUAGE 9, 1")
  string(FIND "${compiled}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the compiled resources lack ${expected}:\n${compiled}")
  endif()
endforeach()
# One icon group of every image.
list(LENGTH ICON_SIZES images)
string(FIND "${compiled}" "Has ${images} elements." at)
if(at EQUAL -1)
  message(FATAL_ERROR "the icon group holds other than ${images} images:\n${compiled}")
endif()

# The icon file, in hex digits: two per byte.
file(READ "${ICO}" ico HEX)
function(number_at offset size out) # a little-endian number of size bytes
  math(EXPR at "${offset} * 2")
  math(EXPR digits "${size} * 2")
  string(SUBSTRING "${ico}" ${at} ${digits} hex)
  string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" hex "${hex}")
  string(REGEX REPLACE "^(..)(..)$" "\\2\\1" hex "${hex}")
  math(EXPR value "0x${hex}")
  set(${out} ${value} PARENT_SCOPE)
endfunction()
number_at(4 2 count)
if(NOT count EQUAL images)
  message(FATAL_ERROR "${ICO} holds ${count} images, not ${images}")
endif()
math(EXPR last "${count} - 1")
foreach(index RANGE ${last})
  math(EXPR entry "6 + 16 * ${index}")
  number_at(${entry} 1 width)
  if(width EQUAL 0)
    set(width 256)
  endif()
  math(EXPR field "${entry} + 6")
  number_at(${field} 2 listed_bits)
  math(EXPR field "${entry} + 12")
  number_at(${field} 4 offset)
  math(EXPR at "${offset} * 2")
  string(SUBSTRING "${ico}" ${at} 16 signature)
  if(signature STREQUAL "89504e470d0a1a0a")
    # A PNG image: 8 bits to each of red, green, blue and alpha (colour type 6).
    math(EXPR field "${offset} + 24")
    number_at(${field} 1 depth)
    math(EXPR field "${offset} + 25")
    number_at(${field} 1 colour_type)
    if(depth EQUAL 8 AND colour_type EQUAL 6)
      set(bits 32)
    else()
      set(bits "PNG depth ${depth}, colour type ${colour_type}")
    endif()
  else()
    math(EXPR field "${offset} + 14")
    number_at(${field} 2 bits)
  endif()
  if(NOT listed_bits EQUAL 32 OR NOT bits STREQUAL "32")
    message(FATAL_ERROR "the ${width}-pixel image of ${ICO} is listed at ${listed_bits} bits "
      "per pixel and holds ${bits}, not 32 and 32")
  endif()
  list(REMOVE_ITEM ICON_SIZES ${width})
endforeach()
if(ICON_SIZES)
  message(FATAL_ERROR "${ICO} has no image of ${ICON_SIZES} pixels")
endif()

