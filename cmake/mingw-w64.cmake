# Cross build for Windows with Debian's mingw-w64, 64-bit (g++-mingw-w64-x86-64-posix) or
# 32-bit (g++-mingw-w64-i686-posix); libz-mingw-w64-dev has zlib for both, GoogleTest comes
# from the sources in /usr/src/googletest:
#   cmake -S . -B build-win -G Ninja --toolchain cmake/mingw-w64.cmake                # x86_64
#   cmake -S . -B build-win32 -G Ninja --toolchain cmake/mingw-w64.cmake \
#         -DQUILLON_WINDOWS_ARCH=i686
# builds quillon.exe, quillon-cli.exe and the test programs; `ctest --test-dir build-win`
# runs the tests under Wine where it is installed (a 32-bit build needs 32-bit Wine).
set(QUILLON_WINDOWS_ARCH x86_64 CACHE STRING "The Windows architecture: x86_64 or i686")
set_property(CACHE QUILLON_WINDOWS_ARCH PROPERTY STRINGS x86_64 i686)
if(NOT QUILLON_WINDOWS_ARCH MATCHES "^(x86_64|i686)$")
  message(FATAL_ERROR "QUILLON_WINDOWS_ARCH is x86_64 or i686, not ${QUILLON_WINDOWS_ARCH}")
endif()
# The try_compile projects CMake configures with this file see the same architecture.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUILLON_WINDOWS_ARCH)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QUILLON_WINDOWS_ARCH})

set(QUILLON_MINGW_TRIPLET ${QUILLON_WINDOWS_ARCH}-w64-mingw32)
# The POSIX thread model: std::mutex and std::thread, which the storage layer uses.
set(CMAKE_C_COMPILER ${QUILLON_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLON_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLON_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUILLON_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests and tools built for Windows run here under Wine.
find_program(QUILLON_WINE NAMES wine wine64)
if(QUILLON_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${QUILLON_WINE}")
endif()

# CLI11 and nlohmann/json are header-only and platform-neutral, but Debian installs them only
# in the host's /usr/include, which must not come before mingw's own headers: offer each
# one's directory alone.
set(QUILLON_CROSS_HEADERS "${CMAKE_BINARY_DIR}/cross-headers")
foreach(quillon_header_dir CLI nlohmann)
  if(EXISTS /usr/include/${quillon_header_dir} AND NOT EXISTS "${QUILLON_CROSS_HEADERS}/${quillon_header_dir}")
    file(MAKE_DIRECTORY "${QUILLON_CROSS_HEADERS}")
    file(CREATE_LINK /usr/include/${quillon_header_dir} "${QUILLON_CROSS_HEADERS}/${quillon_header_dir}" SYMBOLIC)
  endif()
endforeach()
if(NOT DEFINED CACHE{CLI11_INCLUDE_DIR})
  set(CLI11_INCLUDE_DIR "${QUILLON_CROSS_HEADERS}" CACHE PATH "CLI11's headers alone")
endif()
if(NOT DEFINED CACHE{NLOHMANN_JSON_INCLUDE_DIR})
  set(NLOHMANN_JSON_INCLUDE_DIR "${QUILLON_CROSS_HEADERS}" CACHE PATH "nlohmann/json's headers alone")
endif()
