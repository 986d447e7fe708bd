# Third-party libraries built for MinGW from the Debian sources that bootstrap.sh unpacks.
# Nothing of them lives in the repository.
set(VELMOR_DEPS_SOURCE_DIR "${CMAKE_SOURCE_DIR}/.deps/src" CACHE PATH "Unpacked Debian sources of zlib and JsonCpp")

# zlib itself comes prebuilt from libz-mingw-w64-dev; link it statically so no zlib1.dll is needed.
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)

# minizip: zlib's contrib, with its traditional encryption left enabled (password-protected entries).
set(MINIZIP_DIR "${VELMOR_DEPS_SOURCE_DIR}/zlib/contrib/minizip")
if(NOT EXISTS "${MINIZIP_DIR}/unzip.c")
  message(FATAL_ERROR "minizip sources missing at ${MINIZIP_DIR}: run scripts/bootstrap.sh")
endif()
# unzip.c switches its own decryption off (it defines NOUNCRYPT unconditionally); password
# protected entries must read, so the build uses a copy without those three lines.
file(READ "${MINIZIP_DIR}/unzip.c" UNZIP_SOURCE)
string(REPLACE "#ifndef NOUNCRYPT\n        #define NOUNCRYPT\n#endif" "" UNZIP_WITH_DECRYPTION "${UNZIP_SOURCE}")
if(UNZIP_WITH_DECRYPTION STREQUAL UNZIP_SOURCE)
  message(FATAL_ERROR "minizip's unzip.c no longer defines NOUNCRYPT the way we expect: check decryption")
endif()
set(UNZIP_PATCHED "${CMAKE_BINARY_DIR}/deps/minizip/unzip.c")
file(CONFIGURE OUTPUT "${UNZIP_PATCHED}" CONTENT "${UNZIP_WITH_DECRYPTION}" @ONLY)

add_library(minizip STATIC "${MINIZIP_DIR}/ioapi.c" "${UNZIP_PATCHED}" "${MINIZIP_DIR}/zip.c")
target_include_directories(minizip SYSTEM PUBLIC "${MINIZIP_DIR}")
target_include_directories(minizip PRIVATE "${MINIZIP_DIR}")
target_link_libraries(minizip PUBLIC ZLIB::ZLIB)
target_compile_options(minizip PRIVATE -w)

# JsonCpp
set(JSONCPP_DIR "${VELMOR_DEPS_SOURCE_DIR}/jsoncpp")
if(NOT EXISTS "${JSONCPP_DIR}/CMakeLists.txt")
  message(FATAL_ERROR "JsonCpp sources missing at ${JSONCPP_DIR}: run scripts/bootstrap.sh")
endif()
set(JSONCPP_WITH_TESTS OFF CACHE BOOL "" FORCE)
set(JSONCPP_WITH_POST_BUILD_UNITTEST OFF CACHE BOOL "" FORCE)
set(JSONCPP_WITH_PKGCONFIG_SUPPORT OFF CACHE BOOL "" FORCE)
set(JSONCPP_WITH_CMAKE_PACKAGE OFF CACHE BOOL "" FORCE)
set(JSONCPP_WITH_EXAMPLE OFF CACHE BOOL "" FORCE)
set(BUILD_SHARED_LIBS OFF CACHE BOOL "" FORCE)
set(BUILD_STATIC_LIBS ON CACHE BOOL "" FORCE)
set(BUILD_OBJECT_LIBS OFF CACHE BOOL "" FORCE)
add_subdirectory("${JSONCPP_DIR}" "${CMAKE_BINARY_DIR}/deps/jsoncpp" EXCLUDE_FROM_ALL SYSTEM)

# stb_image is header-only; only its own folder joins the include path.
if(NOT EXISTS /usr/include/stb/stb_image.h)
  message(FATAL_ERROR "stb_image.h missing: install libstb-dev (scripts/bootstrap.sh)")
endif()
add_library(stb_image INTERFACE)
target_include_directories(stb_image SYSTEM INTERFACE /usr/include/stb)

# GoogleTest / GoogleMock from Debian's googletest source package.
if(VELMOR_BUILD_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/deps/googletest" EXCLUDE_FROM_ALL SYSTEM)
endif()
