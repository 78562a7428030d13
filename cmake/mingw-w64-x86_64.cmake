# Cross build for 64-bit Windows with Debian's MinGW-w64 compiler (g++-mingw-w64-x86-64-posix,
# the variant with std::thread), running the programs it builds under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(Q218_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${Q218_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${Q218_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${Q218_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${Q218_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Without Qt, the C++ runtime and winpthread are linked in, so that a built program runs under
# Wine (or on a Windows machine) without MinGW's DLLs beside it. With Qt, whose DLLs use the
# runtime's DLLs, the programs share them (Q218_MINGW_STATIC_RUNTIME=OFF) and ship them.
if(NOT DEFINED Q218_MINGW_STATIC_RUNTIME OR Q218_MINGW_STATIC_RUNTIME)
    set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
endif()

# Test programs and the build-time image check run on this machine through Wine, wine64 itself:
# Debian's `wine` wrapper fails when started from inside a build. cmake/WindowsRuntime.cmake
# puts the DLLs' folders in front of it.
find_program(Q218_WINE NAMES wine64 wine PATHS /usr/lib/wine)  # Debian keeps wine64 there
if(Q218_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${Q218_WINE})
endif()
