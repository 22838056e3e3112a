# The 64-bit Windows build (see mingw-w64.cmake, which also builds the 32-bit one).
set(QUILLON_WINDOWS_ARCH x86_64 CACHE STRING "The Windows architecture: x86_64 or i686")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
