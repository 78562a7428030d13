# The DLLs a Windows build's programs load besides Windows' own: the MinGW-w64 runtime
# (libstdc++, libgcc_s, winpthread) and, with Qt, Qt's. Q218_WINDOWS_DLL_DIRS lists their
# folders, where packaging/windows.cmake collects what it ships.
#
# On a Linux host the build's programs (the build-time image check, the tests) run under Wine,
# which finds DLLs on WINEPATH. CMake's emulator is a command without an environment, so a
# small launcher in the build folder sets WINEPATH and starts Wine.
set(Q218_WINDOWS_DLL_DIRS "")
if(MINGW)
    foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                        OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(IS_ABSOLUTE "${path}" AND EXISTS "${path}")
            get_filename_component(dir "${path}" DIRECTORY)
            get_filename_component(dir "${dir}" REALPATH)
            list(APPEND Q218_WINDOWS_DLL_DIRS "${dir}")
        endif()
    endforeach()
endif()
if(TARGET Qt6::Core)
    get_target_property(configs Qt6::Core IMPORTED_CONFIGURATIONS)
    list(GET configs 0 config)
    get_target_property(coreDll Qt6::Core IMPORTED_LOCATION_${config})
    get_filename_component(Q218_QT_BIN_DIR "${coreDll}" DIRECTORY)
    list(APPEND Q218_WINDOWS_DLL_DIRS "${Q218_QT_BIN_DIR}")
endif()
list(REMOVE_DUPLICATES Q218_WINDOWS_DLL_DIRS)

if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR)
    # WINEPATH holds Windows paths separated by ';'; Wine's drive Z: is the host's root.
    set(winePath "")
    foreach(dir IN LISTS Q218_WINDOWS_DLL_DIRS)
        string(APPEND winePath "Z:${dir};")
    endforeach()
    set(Q218_WINE_RUN ${CMAKE_BINARY_DIR}/wine-run)
    file(CONFIGURE OUTPUT ${Q218_WINE_RUN} @ONLY CONTENT [[#!/bin/sh
# Runs a Windows program of this build under Wine, with the folders of its DLLs on WINEPATH.
WINEPATH="@winePath@${WINEPATH:-}" exec "@CMAKE_CROSSCOMPILING_EMULATOR@" "$@"
]])
    file(CHMOD ${Q218_WINE_RUN} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
         GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${Q218_WINE_RUN})
endif()
