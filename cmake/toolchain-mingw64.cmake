# Cross-compiling for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix).
# The posix-threads variant of the compiler is required: its runtime provides std::thread, std::mutex
# and std::condition_variable (the win32-threads variant lacks them).
# Programs are linked statically: one .exe that needs no DLL beyond those of Windows.
# Tests run under wine through CMAKE_CROSSCOMPILING_EMULATOR (scripts/build-windows.sh sets up the
# prefix).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUENTA_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${QUENTA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUENTA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUENTA_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QUENTA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
find_program(QUENTA_WINE wine)
if(QUENTA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUENTA_WINE})
endif()
