# Compiler settings and helpers shared by every folder.

set(KESTRUNE_WARNINGS -Wall -Wextra -Wpedantic -Werror -Wshadow -Wnon-virtual-dtor)

if(KESTRUNE_FUZZ)
  # Every library a fuzz target links is instrumented for coverage and ASan,
  # and optimised: unoptimised code runs the readers' byte loops (and their
  # coverage callbacks) several times slower, and a fuzzer's worth is the
  # inputs it tries in its time.
  add_compile_options(-O1 -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(KESTRUNE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# A 32-bit Windows build with tests: its test programs run as WOW64 processes.
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4 AND KESTRUNE_BUILD_TESTS)
  set(KESTRUNE_WOW64_BUILD ON)
else()
  set(KESTRUNE_WOW64_BUILD OFF)
endif()

if(WIN32)
  # Fully static: the program runs on a bare Windows without runtime DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++ $<$<CONFIG:MinSizeRel>:-s>)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00 WINVER=0x0A00)
  enable_language(RC)
endif()

# The signers go into a C string: backslashes and quotes are escaped.
string(REPLACE "\\" "\\\\" KESTRUNE_FLASH_SIGNERS_ESCAPED "${KESTRUNE_FLASH_SIGNERS}")
string(REPLACE "\"" "\\\"" KESTRUNE_FLASH_SIGNERS_ESCAPED "${KESTRUNE_FLASH_SIGNERS_ESCAPED}")
string(REPLACE "\\" "\\\\" KESTRUNE_SETUP_SIGNERS_ESCAPED "${KESTRUNE_SETUP_SIGNERS}")
string(REPLACE "\"" "\\\"" KESTRUNE_SETUP_SIGNERS_ESCAPED "${KESTRUNE_SETUP_SIGNERS_ESCAPED}")
if(KESTRUNE_FLASH_REVOCATION)
  set(KESTRUNE_FLASH_REVOCATION_VALUE true)
else()
  set(KESTRUNE_FLASH_REVOCATION_VALUE false)
endif()
configure_file(${CMAKE_SOURCE_DIR}/cmake/BuildConfig.h.in ${CMAKE_BINARY_DIR}/generated/BuildConfig.h @ONLY)

# kestrune_library(name SOURCES ... DEPS ...): a static library of the project's own code.
function(kestrune_library name)
  cmake_parse_arguments(L "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${L_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
  target_compile_options(${name} PRIVATE ${KESTRUNE_WARNINGS})
  target_link_libraries(${name} PUBLIC ${L_DEPS})
endfunction()

# kestrune_test(name SOURCES ... DEPS ... [WINDOWS_ONLY] [NATIVE_ONLY] [WOW64] [LABELS ...])
# One GoogleTest program, one ctest entry. Windows builds run it under Wine
# through the cross-compiling emulator and embed the test manifest, which
# declares Windows 10 so that the version query answers 10.0.
#
# The 32-bit Windows build (preset wow64) builds only the tests marked WOW64:
# those whose answers depend on the word size of the process, run as the
# WOW64 process the product is on 64-bit Windows. Every other test is the
# same code at either word size, run natively and by win64.
function(kestrune_test name)
  cmake_parse_arguments(T "WINDOWS_ONLY;NATIVE_ONLY;WOW64" "" "SOURCES;DEPS;LABELS" ${ARGN})
  if((T_WINDOWS_ONLY AND NOT WIN32) OR (T_NATIVE_ONLY AND WIN32))
    return()
  endif()
  if(KESTRUNE_WOW64_BUILD AND NOT T_WOW64)
    return()
  endif()
  set(sources ${T_SOURCES})
  if(WIN32)
    list(APPEND sources ${CMAKE_SOURCE_DIR}/tests/support/TestManifest.rc)
  endif()
  add_executable(${name} ${sources})
  target_compile_options(${name} PRIVATE ${KESTRUNE_WARNINGS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${T_DEPS} GTest::gmock_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 300 LABELS "${T_LABELS}")
endfunction()
