# Helpers shared by the folders' CMakeLists.

# veldrane_add_subdirs(a b c): add the sub-folders that exist, so that a folder can be
# populated without touching its parent.
function(veldrane_add_subdirs)
  foreach(dir IN LISTS ARGN)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()

# Where an installation puts the driver and its modules: a private folder of the library folder
# (/usr/lib/x86_64-linux-gnu/veldrane with host/ below it, in a Debian package), and the way
# from the programs' folder to it.
include(GNUInstallDirs)
set(VELDRANE_INSTALL_LIBDIR ${CMAKE_INSTALL_LIBDIR}/veldrane)
file(RELATIVE_PATH VELDRANE_BIN_TO_LIB /${CMAKE_INSTALL_BINDIR} /${VELDRANE_INSTALL_LIBDIR})

# A program in bin/ that finds lib/ and lib/host/ beside it in the build tree, and the private
# library folder once installed: relative to its own file either way, so that a tree installed
# under any prefix or unpacked anywhere runs as it is.
function(veldrane_program target)
  set_target_properties(${target} PROPERTIES
    BUILD_WITH_INSTALL_RPATH OFF
    BUILD_RPATH_USE_ORIGIN ON
    BUILD_RPATH "$ORIGIN/../lib:$ORIGIN/../lib/host"
    INSTALL_RPATH "$ORIGIN/${VELDRANE_BIN_TO_LIB}:$ORIGIN/${VELDRANE_BIN_TO_LIB}/host")
endfunction()

# A module named exactly NAME.so (no lib prefix, soname NAME.so), as a host loads it by name.
# Modules export tables under shared names (FuncTable, DrvFuncTable) and fill them when they
# load: -Bsymbolic binds each module's own references to its own table, so one module never
# fills another's when both sit in one process.
# On Windows: NAME.dll beside the programs; each DLL binds its own references by nature, and
# exports the functions and data of its own objects (not those of the static libraries and the
# runtime it carries), unless a .def file names its exports.
function(veldrane_module target name dir)
  if(WIN32)
    set_target_properties(${target} PROPERTIES
      PREFIX "" OUTPUT_NAME ${name} SUFFIX ".dll" RUNTIME_OUTPUT_DIRECTORY ${dir})
    target_link_options(${target} PRIVATE -Wl,--exclude-libs,ALL)
    return()
  endif()
  set_target_properties(${target} PROPERTIES
    PREFIX "" OUTPUT_NAME ${name} SUFFIX ".so"
    LIBRARY_OUTPUT_DIRECTORY ${dir}
    INSTALL_RPATH "$ORIGIN:$ORIGIN/..")
  target_link_options(${target} PRIVATE -Wl,-Bsymbolic)
endfunction()

# A GoogleTest executable registered with CTest; it finds the built libraries through its rpath.
function(veldrane_test target)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${target} ${T_SOURCES})
  target_link_libraries(${target} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  if(WIN32)
    # Beside the DLLs it loads; one test per program, as each start of a program under Wine
    # costs more than a whole suite of cases.
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${VELDRANE_BIN_DIR})
    add_test(NAME ${target} COMMAND ${target})
    if(T_PROPERTIES)
      set_tests_properties(${target} PROPERTIES ${T_PROPERTIES})
    endif()
    return()
  endif()
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests
    INSTALL_RPATH "$ORIGIN/../lib:$ORIGIN/../lib/host")
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST
    PROPERTIES ${T_PROPERTIES})
endfunction()

# A fuzz target NAME built from NAME.cc; its seeds are in fuzz/seeds/NAME/. The fuzz preset
# builds it with libFuzzer (clang), and ./dev fuzz runs every *_fuzz in build/fuzz/fuzz/. Every
# other build makes it a replay of its seeds (fuzz/replay_main.cc), run as the test NAME_seeds
# under that build's sanitizers.
function(veldrane_fuzz_target target)
  add_executable(${target} ${target}.cc)
  target_link_libraries(${target} PRIVATE ${ARGN})
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz
    INSTALL_RPATH "$ORIGIN/../lib:$ORIGIN/../lib/host")
  if(WIN32)
    # Beside the DLLs it needs.
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${VELDRANE_BIN_DIR})
  endif()
  if(VELDRANE_FUZZ)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  else()
    # FuzzedDataProvider.h is clang's (libclang-rt-NN-dev) and header-only: GCC builds use a
    # copy of it alone, as clang's include folder would hide GCC's own headers.
    file(GLOB provider /usr/lib/llvm-*/lib/clang/*/include/fuzzer/FuzzedDataProvider.h)
    if(NOT provider)
      message(FATAL_ERROR "fuzzer/FuzzedDataProvider.h not found (Debian: libclang-rt-14-dev)")
    endif()
    list(GET provider 0 provider)
    file(COPY ${provider} DESTINATION ${CMAKE_BINARY_DIR}/fuzzer_include/fuzzer)
    target_include_directories(${target} SYSTEM PRIVATE ${CMAKE_BINARY_DIR}/fuzzer_include)
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/fuzz/replay_main.cc)
    add_test(NAME ${target}_seeds
      COMMAND ${target} ${CMAKE_SOURCE_DIR}/fuzz/seeds/${target})
  endif()
endfunction()
