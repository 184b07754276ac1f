# Layers point down only. Run as a test:
#   cmake -DSOURCE_DIR=<tree> [-DLINKS_FILE=<build>/layer_links.txt] -P check_layers.cmake
#
# Each folder lists the first path components its #include "..." lines must not name. sdk/ is
# reached as fw/, tarko/ and veldrane/ (its own include root). With LINKS_FILE (written at
# configure time, cmake/layer_links.cmake) no library may link a library of a layer it may not
# include either.
cmake_minimum_required(VERSION 3.25)

set(forbidden_sdk platform hostlink config comm driver host tools ui)
set(forbidden_platform hostlink config comm driver host tools ui)
set(forbidden_hostlink config comm driver host tools ui)
set(forbidden_config comm driver host tools ui)
set(forbidden_comm driver host tools ui)
set(forbidden_driver host tools)
# The programs link the small libraries, never the driver's top.
set(forbidden_host driver ui)
set(forbidden_tools driver ui)
# The window reaches the document through the interface of sdk/veldrane/config_window.h only.
set(forbidden_ui config comm driver host tools)
# Links only: the host's modules and the framework library, which drivers link as a host's
# (cmake/layer_links.cmake), rest on the platform layer alone.
set(forbidden_modules hostlink config comm driver host tools ui)

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "usage: cmake -DSOURCE_DIR=<tree> -P check_layers.cmake")
endif()

set(violations "")
foreach(folder sdk platform hostlink config comm driver host tools ui)
  file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}
    ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cc)
  foreach(source IN LISTS sources)
    file(STRINGS ${SOURCE_DIR}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[^\"]*\"([^/\"]*)/.*$" "\\1" top "${line}")
      if(top IN_LIST forbidden_${folder})
        string(APPEND violations "  ${source}: ${line}\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  message(FATAL_ERROR "includes that point up a layer:\n${violations}")
endif()

if(LINKS_FILE)
  file(STRINGS ${LINKS_FILE} links)
  foreach(link IN LISTS links)
    string(REPLACE " " ";" parts "${link}")
    list(GET parts 0 layer)
    list(GET parts 1 target)
    list(GET parts 2 dep_layer)
    list(GET parts 3 dep)
    if(dep_layer IN_LIST forbidden_${layer})
      string(APPEND violations "  ${target} (${layer}) links ${dep} (${dep_layer})\n")
    endif()
  endforeach()
  if(violations)
    message(FATAL_ERROR "links that point up a layer:\n${violations}")
  endif()
endif()
message(STATUS "layers point down")
