# Cross build for Windows (i686) with Debian's mingw-w64 (win32 threads: no POSIX thread library, whose imports the oldest Windows lack).
set(VOZ_MINGW_TRIPLE i686-w64-mingw32)
set(VOZ_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
