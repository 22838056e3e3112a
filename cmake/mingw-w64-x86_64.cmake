# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64, and
# libz-mingw-w64-dev for zlib):
#   cmake -S . -B build-mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DQUILLON_BUILD_TESTS=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILLON_MINGW_TRIPLET x86_64-w64-mingw32)
# The POSIX thread model: std::mutex and std::thread, which the storage layer uses.
set(CMAKE_C_COMPILER ${QUILLON_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLON_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLON_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUILLON_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs run without the compiler's DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# CLI11 is header-only and platform-neutral, but Debian installs it only in the host's
# /usr/include, which must not come before mingw's own headers: offer its directory alone.
if(NOT DEFINED CACHE{CLI11_INCLUDE_DIR} AND EXISTS /usr/include/CLI/CLI.hpp)
  set(QUILLON_CLI11_STAGE "${CMAKE_BINARY_DIR}/cross-headers")
  file(MAKE_DIRECTORY "${QUILLON_CLI11_STAGE}")
  if(NOT EXISTS "${QUILLON_CLI11_STAGE}/CLI")
    file(CREATE_LINK /usr/include/CLI "${QUILLON_CLI11_STAGE}/CLI" SYMBOLIC)
  endif()
  set(CLI11_INCLUDE_DIR "${QUILLON_CLI11_STAGE}" CACHE PATH "CLI11's headers alone")
endif()
