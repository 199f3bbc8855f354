find_package(Threads REQUIRED)

# stb_image as a library of our own where no system library carries its code (Windows):
# PkgConfig::STB, with the headers reachable as <stb/...> wherever they lie.
if(WIN32)
  enable_language(C)  # for stb_image's code; at file scope, as CMake requires
endif()
function(tarvok_stb_image_library header_dir)
  if(NOT EXISTS ${header_dir}/stb_image.h)
    message(FATAL_ERROR "stb_image.h is not in ${header_dir}")
  endif()
  set(dir ${CMAKE_BINARY_DIR}/stb-include)
  file(CONFIGURE OUTPUT ${dir}/stb/stb_image.h CONTENT "#include \"${header_dir}/stb_image.h\"\n")
  file(CONFIGURE OUTPUT ${dir}/stb_image_impl.c
    CONTENT "#define STB_IMAGE_IMPLEMENTATION\n#include <stb/stb_image.h>\n")
  add_library(tarvok_stb_image STATIC ${dir}/stb_image_impl.c)
  target_include_directories(tarvok_stb_image SYSTEM PUBLIC ${dir})
  add_library(PkgConfig::STB ALIAS tarvok_stb_image)
endfunction()

if(WIN32 AND CMAKE_CROSSCOMPILING)
  # The mingw-w64 build of the plain C++ layers and their tests: the window layer needs
  # Qt WebEngine, which builds only with MSVC on Windows, and the emulator runs on Linux.
  set(TARVOK_WINDOWS_CROSS ON)
  include(${CMAKE_CURRENT_LIST_DIR}/WindowsThirdParty.cmake)
elseif(WIN32)
  # MSVC with Qt's own build and vcpkg's libraries (README: "Building on Windows"; not
  # tried on a Windows machine). The emulator and the window's tests stay on Linux; the
  # plain C++ layers' tests build here as under the cross build.
  set(TARVOK_WINDOWS_CROSS OFF)
  if(TARVOK_BUILD_TESTS)
    find_package(GTest CONFIG REQUIRED)
  endif()
  find_package(CURL CONFIG REQUIRED)
  find_package(simdjson CONFIG REQUIRED)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(UTF8PROC REQUIRED IMPORTED_TARGET libutf8proc)
  pkg_check_modules(CMARKGFM REQUIRED IMPORTED_TARGET libcmark-gfm)
  find_library(CMARKGFM_EXTENSIONS_LIB cmark-gfm-extensions REQUIRED)
  find_path(TARVOK_STB_HEADERS stb_image.h PATH_SUFFIXES stb REQUIRED)
  tarvok_stb_image_library(${TARVOK_STB_HEADERS})
  find_package(Qt6 REQUIRED COMPONENTS Core Gui Network Widgets WebEngineCore WebEngineWidgets)
else()
  set(TARVOK_WINDOWS_CROSS OFF)
  find_package(PkgConfig REQUIRED)
  find_package(CURL REQUIRED)
  find_package(OpenSSL REQUIRED)
  find_package(simdjson REQUIRED)
  pkg_check_modules(STB REQUIRED IMPORTED_TARGET stb)
  pkg_check_modules(UTF8PROC REQUIRED IMPORTED_TARGET libutf8proc)
  pkg_check_modules(CMARKGFM REQUIRED IMPORTED_TARGET libcmark-gfm)
  find_library(CMARKGFM_EXTENSIONS_LIB cmark-gfm-extensions REQUIRED)
  pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
  find_package(Qt6 REQUIRED COMPONENTS Core Gui Network Widgets WebChannel WebEngineCore WebEngineWidgets Test)
  if(TARVOK_BUILD_TESTS)
    find_package(GTest REQUIRED)
  endif()
  if(TARVOK_BUILD_BENCH)
    find_package(benchmark REQUIRED)
  endif()
endif()

if(WIN32)
  # Vista's API at least (PROC_THREAD_ATTRIBUTE_HANDLE_LIST, CancelSynchronousIo); Qt 6
  # itself needs Windows 10.
  add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 UNICODE _UNICODE NOMINMAX)
endif()

# Warnings for our own targets.
function(tarvok_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /wd4100 /utf-8)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wno-unused-parameter)
  endif()
endfunction()

# A GoogleTest program: each test a CTest test on Linux; under the Windows cross build one
# CTest test per program, run through Wine (listing the tests would need Wine at build time).
function(tarvok_gtest target)
  if(TARVOK_WINDOWS_CROSS)
    add_test(NAME ${target} COMMAND ${target})
  else()
    gtest_discover_tests(${target} ${ARGN})
  endif()
endfunction()
