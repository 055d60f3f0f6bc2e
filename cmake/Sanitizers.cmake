# Sanitizer builds and the instrumentation of the fuzz build.
#
#   -DVS32_SANITIZE=address  AddressSanitizer + UndefinedBehaviorSanitizer; the
#                            first finding aborts the program (no recovery).
#   -DVS32_SANITIZE=thread   ThreadSanitizer.
#   -DVS32_BUILD_FUZZ=ON     (clang only) every object gets libFuzzer's coverage
#                            hooks and AddressSanitizer, so the fuzz targets in
#                            fuzz/ see into the engine library they call.
#
# The flags go on every target of the build (library, programs, tests), so the
# programs the tests start are checked as well.

set(VS32_SANITIZE "" CACHE STRING "Sanitizer build: address (ASan+UBSan), thread (TSan), or empty")
set_property(CACHE VS32_SANITIZE PROPERTY STRINGS "" address thread)

if(VS32_SANITIZE AND VS32_BUILD_FUZZ)
  message(FATAL_ERROR "VS32_SANITIZE and VS32_BUILD_FUZZ are separate builds; use one at a time")
endif()

if(VS32_SANITIZE STREQUAL "address")
  set(VS32_SANITIZER_FLAGS
      -fsanitize=address,undefined
      -fno-sanitize-recover=all
      -fno-omit-frame-pointer)
elseif(VS32_SANITIZE STREQUAL "thread")
  set(VS32_SANITIZER_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
elseif(VS32_SANITIZE)
  message(FATAL_ERROR "VS32_SANITIZE must be address or thread, not '${VS32_SANITIZE}'")
endif()

if(VS32_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "the fuzz build needs clang (configure with CXX=clang++ CC=clang)")
  endif()
  # Coverage hooks without libFuzzer's main(): only the fuzz targets link it.
  set(VS32_SANITIZER_FLAGS -fsanitize=fuzzer-no-link,address,undefined
      -fno-sanitize-recover=all -fno-omit-frame-pointer)
endif()

if(VS32_SANITIZER_FLAGS)
  add_compile_options(${VS32_SANITIZER_FLAGS} -g)
  # The linker needs the run-time libraries of the same sanitizers; the fuzzer's
  # coverage hooks are satisfied by the address run time at link time.
  string(REPLACE "fuzzer-no-link," "" VS32_SANITIZER_LINK_FLAGS "${VS32_SANITIZER_FLAGS}")
  add_link_options(${VS32_SANITIZER_LINK_FLAGS})
  message(STATUS "Sanitizer flags: ${VS32_SANITIZER_FLAGS}")
endif()
