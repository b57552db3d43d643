# Compiles the Windows resource script as a Windows build would, then reads the compiled
# resources back and checks the version block and that the icon holds both images.
#   cmake -DWINDRES=... -DCPP=... -DSCRIPT=ostrim.rc -DOUTPUT=ostrim.res -P ...

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
    "VALUE \"ProductName\", \"Ostrim\""
    "VALUE \"InternalName\", \"Ostrim\""
    "VALUE \"OriginalFilename\", \"Ostrim.exe\""
    "VALUE \"Translation\", 0x409, 1200"
    "LANGUAGE 9, 1"
    # one icon group of two images, 32 and 16 pixels square, 16 colours at 4 bits per pixel
    "Has 2 elements."
    "\"\\040\\040\\020\\000\", 1, 4,"
    "\"\\020\\020\\020\\000\", 1, 4,")
  string(FIND "${compiled}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the compiled resources lack ${expected}:\n${compiled}")
  endif()
endforeach()

