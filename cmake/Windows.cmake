# The Windows build (cross-built with mingw-w64, tested under Wine).

# Programs, tests and FreeImage.dll in one folder, as they are shipped.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
file(COPY ${FREEIMAGE_DLL} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})

# Wide-character Windows interfaces throughout; windows.h without min/max macros.
add_compile_definitions(UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601 WINVER=0x0601)
# mingw-w64's C library offers the thread-safe POSIX time calls (localtime_r) when asked.
add_compile_definitions(_POSIX_THREAD_SAFE_FUNCTIONS)

if(CMAKE_CROSSCOMPILING)
  # Tests run under Wine in the test run's own prefix; test names are read from the programs
  # when CTest starts, so the build itself never needs Wine.
  set(TORVO_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix of the test runs")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh ${TORVO_WINEPREFIX})
  set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
endif()

# A program with a Unicode Windows entry point (wWinMain or wmain).
function(torvo_unicode_entry target)
  target_link_options(${target} PRIVATE -municode)
endfunction()

# Reading a test program's names under Wine may wait for the run's Wine prefix to be made.
if(CMAKE_CROSSCOMPILING AND COMMAND gtest_discover_tests)
  function(gtest_discover_tests)
    _gtest_discover_tests(${ARGV} DISCOVERY_TIMEOUT 180)
  endfunction()
endif()
