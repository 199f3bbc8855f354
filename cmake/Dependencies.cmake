find_package(Threads REQUIRED)

if(WIN32 AND CMAKE_CROSSCOMPILING)
  # The mingw-w64 build of the plain C++ layers and their tests: the window layer needs
  # Qt WebEngine, which builds only with MSVC on Windows, and the emulator runs on Linux.
  set(TARVOK_WINDOWS_CROSS ON)
  include(${CMAKE_CURRENT_LIST_DIR}/WindowsThirdParty.cmake)
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
  find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets WebChannel WebEngineCore WebEngineWidgets Test)
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
