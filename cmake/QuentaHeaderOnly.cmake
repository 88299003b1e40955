# Header-only libraries of the build machine (Debian's nlohmann-json3-dev, libcli11-dev), found by
# their own package files, for native and cross builds alike.
#
# quenta_find_header_only(<package> <version> <target> <header folder>...)
# A cross build (MinGW) finds the package outside its find root, and its target then names a folder
# of links to the package's own header folders (e.g. /usr/include/nlohmann) instead of the build
# machine's include folder, whose C library headers must never reach the target system's compiler.
function(quenta_find_header_only package version target)
  if(NOT CMAKE_CROSSCOMPILING)
    find_package(${package} ${version} REQUIRED)
    return()
  endif()
  find_package(${package} ${version} REQUIRED CONFIG NO_CMAKE_FIND_ROOT_PATH)
  get_target_property(includes ${target} INTERFACE_INCLUDE_DIRECTORIES)
  list(REMOVE_DUPLICATES includes)
  set(links ${CMAKE_BINARY_DIR}/host-headers/${package})
  file(MAKE_DIRECTORY ${links})
  foreach(folder ${ARGN})
    set(found "")
    foreach(include ${includes})
      if(IS_DIRECTORY ${include}/${folder})
        set(found ${include}/${folder})
        break()
      endif()
    endforeach()
    if(NOT found)
      message(FATAL_ERROR "${package}: no folder ${folder} in ${includes}")
    endif()
    file(CREATE_LINK ${found} ${links}/${folder} SYMBOLIC)
  endforeach()
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${links})
endfunction()
