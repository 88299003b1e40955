# Warnings, sanitizers and the helper that makes one library per source folder.

add_compile_options(-Wall -Wextra -Wno-missing-field-initializers)

# Platform files: <module>_posix.cpp or <module>_win32.cpp beside the portable sources; every folder
# compiles only the ones of the target system (quenta_platform_sources below).
if(WIN32)
  set(QUENTA_OTHER_PLATFORM posix)
  # Windows 7 API level (inet_pton, getaddrinfo); no min/max macros; lean windows.h.
  add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX WIN32_LEAN_AND_MEAN UNICODE _UNICODE)
else()
  set(QUENTA_OTHER_PLATFORM win32)
endif()

# quenta_platform_sources(<list variable>): drops the other system's platform files from the list.
function(quenta_platform_sources variable)
  set(kept ${${variable}})
  list(FILTER kept EXCLUDE REGEX "_${QUENTA_OTHER_PLATFORM}\\.cpp$")
  set(${variable} ${kept} PARENT_SCOPE)
endfunction()

if(QUENTA_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined)
elseif(QUENTA_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT QUENTA_SANITIZE STREQUAL "")
  message(FATAL_ERROR "QUENTA_SANITIZE must be empty, 'address' or 'thread'")
endif()

# quenta_folder_library(<target> [DEPS <targets>...])
# One static library from every .cpp of the calling folder; the repository root is the include root,
# so code includes "ss/ss_log.h", "protocol/ss_pair.h", ...
function(quenta_folder_library target)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  quenta_platform_sources(sources)
  add_library(${target} STATIC ${sources} ${headers})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${ARG_DEPS})
endfunction()

# Fuzz builds instrument every library for coverage; the fuzz targets add the libFuzzer driver.
if(QUENTA_BUILD_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
