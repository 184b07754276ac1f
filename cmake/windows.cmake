# The Windows build (cross-compiled with mingw-w64, cmake/mingw-w64-x86_64.cmake), included by
# the top-level CMakeLists.txt on WIN32 only.

# Windows 7 and later. localtime_r and its kin from the C library's POSIX corner.
add_compile_definitions(_WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX
  _POSIX_THREAD_SAFE_FUNCTIONS)

# Everything beside the programs, as a host installs a driver beside itself: Windows finds a
# module's DLLs in the program's folder, and the driver finds the host's modules there too.
set(VELDRANE_LIB_DIR ${VELDRANE_BIN_DIR})
set(VELDRANE_HOST_DIR ${VELDRANE_BIN_DIR})
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${VELDRANE_BIN_DIR})

# Test programs run under Wine, in a prefix of this build's own.
set(VELDRANE_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh ${VELDRANE_WINE_PREFIX})

# The end-to-end test reads the line with the Linux virtual meter (the debug preset's).
set(VELDRANE_LINUX_METER ${CMAKE_SOURCE_DIR}/build/debug/bin CACHE PATH
  "Folder of the Linux veldrane-meter and veldrane-cfg for the Windows road test")

# No mingw build of Qt or libmosquitto in Debian: the configuration window and MQTT are left
# out (the programs say so when asked for them).
set(VELDRANE_UI OFF CACHE BOOL "" FORCE)

# GoogleTest for the target, from Debian's sources (libgtest-dev's /usr/src/googletest).
macro(veldrane_windows_gtest)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # GoogleTest's own code is not held to this project's warnings (its CMake names the targets
  # GTest::gtest and so on).
  foreach(lib gtest gtest_main gmock gmock_main)
    target_compile_options(${lib} PRIVATE -w)
  endforeach()
endmacro()

# The Wine session of a test run: before the first test, a fresh prefix with one Wine server kept
# running for the whole run (each program then starts in a fraction of a second); after the
# last, that server ended and waited for. ctest reads CTestCustom.cmake from the build folder.
function(veldrane_windows_test_session)
  set(session ${CMAKE_SOURCE_DIR}/cmake/wine-session.sh)
  file(WRITE ${CMAKE_BINARY_DIR}/CTestCustom.cmake
    "set(CTEST_CUSTOM_PRE_TEST \"${session} start ${VELDRANE_WINE_PREFIX}\")\n"
    "set(CTEST_CUSTOM_POST_TEST \"${session} stop ${VELDRANE_WINE_PREFIX}\")\n")
endfunction()
