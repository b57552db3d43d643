# Instrumented builds, each in a build directory of its own (see the Makefile's sanitize and
# fuzz steps). Both options apply to every target, so they must be set before any is defined.
option(OSTRIM_SANITIZE "Build everything with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(OSTRIM_FUZZ "Build the libFuzzer targets in fuzz/ (needs clang)" OFF)

if(OSTRIM_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "OSTRIM_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
  endif()
  set(OSTRIM_SANITIZE ON CACHE BOOL "" FORCE)
  # Coverage feedback for the code under test; only the fuzz targets link libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(OSTRIM_SANITIZE)
  # A report of undefined behaviour fails the test instead of scrolling past.
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
