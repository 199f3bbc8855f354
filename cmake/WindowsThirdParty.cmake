# Third-party libraries for the Windows cross build. Debian packages none of them for
# mingw, so they are built from Debian 12's own source packages (the versions the Linux
# build uses), once, into the build folder; later configures find them there.
#
# The sources come through a private apt configuration with a deb-src copy of the
# machine's Debian sources: the machine's own package lists stay untouched.

set(TARVOK_TP_DIR ${CMAKE_BINARY_DIR}/third-party)
set(TARVOK_TP_PREFIX ${TARVOK_TP_DIR}/install)

# Debian 12's versions: package, Debian version, unpacked folder, CMake options.
set(TARVOK_TP_PACKAGES curl simdjson cmark-gfm utf8proc)
set(TARVOK_TP_curl_VERSION 7.88.1-10+deb12u15)
set(TARVOK_TP_curl_DIR curl-7.88.1)
set(TARVOK_TP_curl_OPTIONS
  -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBSSH=OFF
  -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF
  -DCURL_DISABLE_LDAP=ON -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF
  -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none)
set(TARVOK_TP_simdjson_VERSION 3.0.1-1)
set(TARVOK_TP_simdjson_DIR simdjson-3.0.1)
set(TARVOK_TP_simdjson_OPTIONS -DSIMDJSON_DEVELOPER_MODE=OFF -DSIMDJSON_ENABLE_THREADS=ON)
set(TARVOK_TP_cmark-gfm_VERSION 0.29.0.gfm.6-6)
set(TARVOK_TP_cmark-gfm_DIR cmark-gfm-0.29.0.gfm.6)
set(TARVOK_TP_cmark-gfm_OPTIONS -DCMARK_TESTS=OFF -DCMARK_SHARED=OFF -DCMARK_STATIC=ON)
set(TARVOK_TP_utf8proc_VERSION 2.8.0-1)
set(TARVOK_TP_utf8proc_DIR utf8proc-2.8.0)
set(TARVOK_TP_utf8proc_OPTIONS -DUTF8PROC_INSTALL=ON -DUTF8PROC_ENABLE_TESTING=OFF)

function(tarvok_tp_run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "Third-party build step failed (${result}): ${command}\n${out}")
  endif()
endfunction()

function(tarvok_tp_apt_sources)
  set(apt ${TARVOK_TP_DIR}/apt)
  if(EXISTS ${apt}/updated)
    return()
  endif()
  file(MAKE_DIRECTORY ${apt}/sources ${apt}/lists/partial ${apt}/cache/archives/partial)
  set(system_sources /etc/apt/sources.list.d/debian.sources)
  if(NOT EXISTS ${system_sources})
    message(FATAL_ERROR "No ${system_sources} to take the Debian mirror from")
  endif()
  file(READ ${system_sources} text)
  string(REGEX REPLACE "Types:[^\n]*" "Types: deb-src" text "${text}")
  file(WRITE ${apt}/sources/debian-src.sources "${text}")
  tarvok_tp_run(apt-get ${TARVOK_TP_APT_OPTIONS} update)
  file(TOUCH ${apt}/updated)
endfunction()

set(TARVOK_TP_APT_OPTIONS
  -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts=${TARVOK_TP_DIR}/apt/sources
  -o Dir::State::Lists=${TARVOK_TP_DIR}/apt/lists -o Dir::Cache=${TARVOK_TP_DIR}/apt/cache
  -o APT::Sandbox::User=root -q)

foreach(package IN LISTS TARVOK_TP_PACKAGES)
  set(version ${TARVOK_TP_${package}_VERSION})
  set(stamp ${TARVOK_TP_PREFIX}/.${package}-${version}.built)
  if(EXISTS ${stamp})
    continue()
  endif()
  set(source ${TARVOK_TP_DIR}/src/${TARVOK_TP_${package}_DIR})
  if(NOT EXISTS ${source}/CMakeLists.txt)
    message(STATUS "Fetching Debian source ${package}=${version}")
    tarvok_tp_apt_sources()
    file(MAKE_DIRECTORY ${TARVOK_TP_DIR}/src)
    execute_process(COMMAND apt-get ${TARVOK_TP_APT_OPTIONS} source ${package}=${version}
      WORKING_DIRECTORY ${TARVOK_TP_DIR}/src RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT result EQUAL 0 OR NOT EXISTS ${source}/CMakeLists.txt)
      message(FATAL_ERROR "apt-get source ${package}=${version} failed:\n${out}")
    endif()
  endif()
  message(STATUS "Building ${package} ${version} for Windows (once; cached in ${TARVOK_TP_DIR})")
  set(build ${TARVOK_TP_DIR}/build/${package})
  file(REMOVE_RECURSE ${build})
  tarvok_tp_run(${CMAKE_COMMAND} -S ${source} -B ${build} -G Ninja
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX=${TARVOK_TP_PREFIX} -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF
    ${TARVOK_TP_${package}_OPTIONS})
  # The build machine is shared: low priority, two jobs.
  tarvok_tp_run(nice ${CMAKE_COMMAND} --build ${build} --parallel 2 --target install)
  file(TOUCH ${stamp})
endforeach()

# What the layers link to, under the names the Linux build uses.
find_package(CURL CONFIG REQUIRED PATHS ${TARVOK_TP_PREFIX} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_package(simdjson CONFIG REQUIRED PATHS ${TARVOK_TP_PREFIX} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)

add_library(PkgConfig::UTF8PROC STATIC IMPORTED)
set_target_properties(PkgConfig::UTF8PROC PROPERTIES
  IMPORTED_LOCATION ${TARVOK_TP_PREFIX}/lib/libutf8proc.a
  INTERFACE_INCLUDE_DIRECTORIES ${TARVOK_TP_PREFIX}/include
  INTERFACE_COMPILE_DEFINITIONS UTF8PROC_STATIC)

add_library(PkgConfig::CMARKGFM STATIC IMPORTED)
set_target_properties(PkgConfig::CMARKGFM PROPERTIES
  IMPORTED_LOCATION ${TARVOK_TP_PREFIX}/lib/libcmark-gfm.a
  INTERFACE_INCLUDE_DIRECTORIES ${TARVOK_TP_PREFIX}/include
  INTERFACE_COMPILE_DEFINITIONS "CMARK_GFM_STATIC_DEFINE;CMARK_GFM_EXTENSIONS_STATIC_DEFINE")
add_library(tarvok_cmark_gfm_extensions STATIC IMPORTED)
set_target_properties(tarvok_cmark_gfm_extensions PROPERTIES
  IMPORTED_LOCATION ${TARVOK_TP_PREFIX}/lib/libcmark-gfm-extensions.a
  INTERFACE_LINK_LIBRARIES PkgConfig::CMARKGFM)
set(CMARKGFM_EXTENSIONS_LIB tarvok_cmark_gfm_extensions)

# Debian's libstb-dev headers serve every target.
tarvok_stb_image_library(/usr/include/stb)

if(TARVOK_BUILD_TESTS)
  # GoogleTest from Debian's googletest sources, built with the same toolchain.
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endif()
