# Third-party code, all from Debian: zlib (package), minizip and pugixml
# (compiled here from Debian source packages that scripts/setup.sh fetches
# into .deps/), GoogleTest (/usr/src/googletest, built for every target),
# nlohmann-json (header-only package).

set(_zlib_src "${KESTRUNE_DEPS_DIR}/src/zlib-1.2.13.dfsg")
set(_pugixml_src "${KESTRUNE_DEPS_DIR}/src/pugixml-1.13")
foreach(dir ${_zlib_src} ${_pugixml_src})
  if(NOT EXISTS ${dir})
    message(FATAL_ERROR "${dir} is missing: run scripts/setup.sh first")
  endif()
endforeach()

set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)

# minizip, the unzip half with its 64-bit interface. Windows has a 32-bit
# z_off_t, which would cut seeks past 2 GiB, so it is widened there.
set(_mz ${_zlib_src}/contrib/minizip)
add_library(minizip STATIC ${_mz}/unzip.c ${_mz}/ioapi.c $<$<BOOL:${WIN32}>:${_mz}/iowin32.c>)
target_include_directories(minizip SYSTEM PUBLIC ${_mz})
target_link_libraries(minizip PUBLIC ZLIB::ZLIB)
target_compile_definitions(minizip PRIVATE NOCRYPT NOUNCRYPT $<$<BOOL:${WIN32}>:z_off_t=__int64>)
target_compile_options(minizip PRIVATE -w)

add_library(pugixml STATIC ${_pugixml_src}/src/pugixml.cpp)
target_include_directories(pugixml SYSTEM PUBLIC ${_pugixml_src}/src)
target_compile_options(pugixml PRIVATE -w)

# nlohmann-json: a folder that holds only a link to the header folder, so the
# Windows builds do not see the Linux C library's headers in /usr/include.
set(_json_inc ${CMAKE_BINARY_DIR}/json-include)
if(NOT EXISTS ${_json_inc}/nlohmann)
  file(MAKE_DIRECTORY ${_json_inc})
  file(CREATE_LINK /usr/include/nlohmann ${_json_inc}/nlohmann SYMBOLIC)
endif()
add_library(nlohmann_json INTERFACE)
target_include_directories(nlohmann_json SYSTEM INTERFACE ${_json_inc})

if(KESTRUNE_BUILD_TESTS)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()

if(WIN32 AND KESTRUNE_BUILD_TESTS)
  set(KESTRUNE_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  set(KESTRUNE_WINE_TEMPLATE ${KESTRUNE_DEPS_DIR}/wineprefix)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh CACHE FILEPATH "" FORCE)
endif()
