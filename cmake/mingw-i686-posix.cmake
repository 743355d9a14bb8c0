# The 32-bit Windows test programs: GoogleTest needs std::mutex, which only
# the -posix compiler variant has. The product itself is built with
# mingw-i686.cmake and does not change because its tests are built.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QV_MINGW_TRIPLE i686-w64-mingw32)
set(QV_MINGW_THREADS posix)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
