# What both Windows cross builds share; cmake/mingw-i686.cmake and
# cmake/mingw-x86_64.cmake name the target (VOZ_MINGW_TRIPLE, VOZ_MINGW_PROCESSOR).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${VOZ_MINGW_PROCESSOR})
set(CMAKE_C_COMPILER ${VOZ_MINGW_TRIPLE}-gcc-win32)
set(CMAKE_CXX_COMPILER ${VOZ_MINGW_TRIPLE}-g++-win32)
set(CMAKE_RC_COMPILER ${VOZ_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VOZ_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Every function in a section of its own, so that a program linked with
# --gc-sections (the setups) keeps only what it reaches. Not every datum: this
# target gives zero-filled data sections of their own as .data$, so a large
# buffer would be stored in the image instead of being left to .bss.
# No build path in any output (debug information included), no time stamp in
# any image: the same sources give the same bytes in every build folder. The
# build folder's map comes last: it may lie inside the source folder, and the
# compiler tries the last map first. New build folders take these for every
# program; the setups' folders add VOZ_WIN_COMMON_OPTIONS themselves, so that
# an older build folder builds the setups the same way.
set(VOZ_WIN_COMMON_OPTIONS -ffunction-sections
    -ffile-prefix-map=${CMAKE_SOURCE_DIR}=/voz/src -ffile-prefix-map=${CMAKE_BINARY_DIR}=/voz/build)
string(JOIN " " voz_common_flags ${VOZ_WIN_COMMON_OPTIONS})
set(CMAKE_C_FLAGS_INIT "${voz_common_flags}")
set(CMAKE_CXX_FLAGS_INIT "${voz_common_flags}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")
# Libraries too: no Windows has libgcc's or libstdc++'s DLLs.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")
# The executables are fully static: take zlib's archive, never its import library.
set(ZLIB_LIBRARY /usr/${VOZ_MINGW_TRIPLE}/lib/libz.a CACHE FILEPATH "static zlib for mingw")
set(ZLIB_INCLUDE_DIR /usr/${VOZ_MINGW_TRIPLE}/include CACHE PATH "zlib headers for mingw")
