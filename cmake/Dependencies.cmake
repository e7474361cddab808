# Third-party code: zlib from the target sysroot, libpng from Debian's source package built here
# with the same toolchain, GoogleTest from its sources. All static.

# zlib: the static archive only, never the import library of a DLL.
find_library(ZLIB_STATIC_LIBRARY NAMES libz.a REQUIRED)
find_path(ZLIB_INCLUDE_DIR zlib.h REQUIRED)
set(ZLIB_LIBRARY ${ZLIB_STATIC_LIBRARY} CACHE FILEPATH "" FORCE)
set(ZLIB_LIBRARIES ${ZLIB_STATIC_LIBRARY})
set(ZLIB_INCLUDE_DIRS ${ZLIB_INCLUDE_DIR})
if(NOT TARGET ZLIB::ZLIB)
  add_library(ZLIB::ZLIB STATIC IMPORTED)
  set_target_properties(ZLIB::ZLIB PROPERTIES IMPORTED_LOCATION ${ZLIB_STATIC_LIBRARY}
                                              INTERFACE_INCLUDE_DIRECTORIES ${ZLIB_INCLUDE_DIR})
endif()

# libpng: LIBPNG_SOURCE_DIR is the unpacked source package (scripts/setup puts it in a cache).
set(LIBPNG_SOURCE_DIR "/var/cache/lunetrix/libpng-src" CACHE PATH "libpng source tree")
if(NOT EXISTS ${LIBPNG_SOURCE_DIR}/png.h)
  message(FATAL_ERROR "libpng source not found in ${LIBPNG_SOURCE_DIR}: run scripts/setup")
endif()
set(PNG_SHARED OFF CACHE BOOL "" FORCE)
set(PNG_STATIC ON CACHE BOOL "" FORCE)
set(PNG_TESTS OFF CACHE BOOL "" FORCE)
set(PNG_EXECUTABLES OFF CACHE BOOL "" FORCE)
set(SKIP_INSTALL_ALL ON CACHE BOOL "" FORCE)
add_subdirectory(${LIBPNG_SOURCE_DIR} ${CMAKE_BINARY_DIR}/libpng EXCLUDE_FROM_ALL)
add_library(lunetrix_png INTERFACE)
target_link_libraries(lunetrix_png INTERFACE png_static ZLIB::ZLIB)
# png.h lives in the source tree, pnglibconf.h is generated in the build tree.
target_include_directories(lunetrix_png INTERFACE ${LIBPNG_SOURCE_DIR} ${CMAKE_BINARY_DIR}/libpng)
# libpng's own pngsuite and testpngs: the tests read real PNG files from here.
set(LIBPNG_CONTRIB_DIR ${LIBPNG_SOURCE_DIR}/contrib)

# GoogleTest, built from source with this toolchain.
if(LUNETRIX_TESTS OR NOT DEFINED LUNETRIX_TESTS)
  set(GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
