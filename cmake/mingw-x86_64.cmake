# Cross build for Windows (x86_64) with Debian's mingw-w64 (win32 threads: no POSIX thread library, whose imports the oldest Windows lack).
set(VOZ_MINGW_TRIPLE x86_64-w64-mingw32)
set(VOZ_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
