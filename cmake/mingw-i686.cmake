# The shipped product: 32-bit Windows. The default (win32 threads) compiler
# variant is enough: the product uses no std::thread or std::mutex.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QV_MINGW_TRIPLE i686-w64-mingw32)
set(QV_MINGW_THREADS win32)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
