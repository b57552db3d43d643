# Installs the build into a fresh prefix and checks what a desktop needs to find and start the
# program: the executable, a valid desktop entry that names it, the icon at both sizes and
# scalable, and what a package carries besides: metadata, man page, copyright and changelog.
#   cmake -DBUILD_DIR=... -DPREFIX=... -DVALIDATE=desktop-file-validate -DAPPSTREAM_ID=...
#     -P check_install.cmake

cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
  RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

if(NOT EXISTS "${PREFIX}/bin/ostrim" OR IS_DIRECTORY "${PREFIX}/bin/ostrim")
  message(FATAL_ERROR "bin/ostrim was not installed")
endif()

set(entry "${PREFIX}/share/applications/ostrim.desktop")
if(NOT EXISTS "${entry}")
  message(FATAL_ERROR "the desktop entry was not installed")
endif()
if(NOT VALIDATE)
  message(FATAL_ERROR "desktop-file-validate is missing; scripts/install-deps.sh installs it")
endif()
execute_process(COMMAND "${VALIDATE}" "${entry}" RESULT_VARIABLE result
  OUTPUT_VARIABLE complaints ERROR_VARIABLE complaints)
if(NOT result EQUAL 0 OR NOT complaints STREQUAL "")
  message(FATAL_ERROR "desktop-file-validate: ${complaints}")
endif()

file(STRINGS "${entry}" lines)
foreach(expected "Name=Ostrim" "Exec=ostrim" "Icon=ostrim" "Type=Application"
    "X-Ostrim-Version=${VERSION_TEXT}")
  if(NOT expected IN_LIST lines)
    message(FATAL_ERROR "the desktop entry lacks ${expected}")
  endif()
endforeach()
set(categories "${lines}")
list(FILTER categories INCLUDE REGEX "^Categories=")
if(NOT categories MATCHES "^Categories=(.*;)?Utility;")
  message(FATAL_ERROR "the desktop entry is not in the Utility category: ${categories}")
endif()
set(keywords "${lines}")
list(FILTER keywords INCLUDE REGEX "^Keywords=")
if(NOT keywords MATCHES "^Keywords=(.*;)?serial;")
  message(FATAL_ERROR "the desktop entry has no Keywords= with serial: ${keywords}")
endif()

foreach(file
    share/icons/hicolor/scalable/apps/ostrim.svg
    share/metainfo/${APPSTREAM_ID}.metainfo.xml
    share/man/man1/ostrim.1.gz
    share/doc/ostrim/copyright
    share/doc/ostrim/changelog.gz)
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "${file} was not installed")
  endif()
endforeach()
file(STRINGS "${PREFIX}/share/doc/ostrim/copyright" no_license REGEX "No license has been chosen")
if(NOT no_license)
  message(FATAL_ERROR "the copyright file does not say that no license has been chosen")
endif()

# Width and height of a PNG stand in its header at byte 16, four bytes each.
foreach(size 16 32)
  set(icon "${PREFIX}/share/icons/hicolor/${size}x${size}/apps/ostrim.png")
  if(NOT EXISTS "${icon}")
    message(FATAL_ERROR "the ${size}x${size} icon was not installed")
  endif()
  file(READ "${icon}" signature LIMIT 8 HEX)
  file(READ "${icon}" dimensions OFFSET 16 LIMIT 8 HEX)
  math(EXPR expected "(${size} << 32) | ${size}" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX REPLACE "^0x" "" expected "${expected}")
  string(LENGTH "${expected}" length)
  math(EXPR padding "16 - ${length}")
  string(REPEAT "0" ${padding} zeros)
  if(NOT signature STREQUAL "89504e470d0a1a0a" OR NOT dimensions STREQUAL "${zeros}${expected}")
    message(FATAL_ERROR "${icon} is not a ${size}x${size} PNG (${signature} ${dimensions})")
  endif()
endforeach()
