# Run by `cmake --install` of a Windows cross build (packaging/windows.cmake): copies beside the
# installed programs every DLL they load that is not part of Windows, found by following the
# import tables that objdump lists, from the programs through every DLL copied. The Qt
# platform and style plugins, which Qt loads by name at run time, are copied into their
# folders first and followed the same way. Windows' own DLLs are in none of the searched
# folders and stay out; what is copied is exactly what is loaded.
#
# Variables: Q218_BIN (the installed programs' folder), Q218_OBJDUMP, Q218_DLL_DIRS (where
# DLLs are looked for), Q218_QT_PLUGINS (Qt's plugins folder), Q218_PLUGINS (plugins to copy,
# relative to it, e.g. platforms/qwindows.dll), Q218_STRIP (strips debugging information from
# the copies: Debian's MinGW runtime DLLs carry it, three times their code).
cmake_policy(PUSH)
cmake_policy(VERSION 3.25)  # an install script starts with the oldest policies

function(q218_imports file out)
    execute_process(COMMAND ${Q218_OBJDUMP} -p ${file} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "objdump cannot read ${file}")
    endif()
    string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
    list(TRANSFORM lines REPLACE "DLL Name: " "")
    set(${out} ${lines} PARENT_SCOPE)
endfunction()

file(GLOB pending ${Q218_BIN}/*.exe)
foreach(plugin IN LISTS Q218_PLUGINS)
    get_filename_component(folder ${plugin} DIRECTORY)
    file(COPY ${Q218_QT_PLUGINS}/${plugin} DESTINATION ${Q218_BIN}/${folder})
    list(APPEND pending ${Q218_BIN}/${plugin})
endforeach()

set(copied "")
while(pending)
    list(POP_FRONT pending file)
    q218_imports(${file} imports)
    foreach(dll IN LISTS imports)
        string(TOLOWER ${dll} key)
        if(key IN_LIST copied)
            continue()
        endif()
        foreach(dir IN LISTS Q218_DLL_DIRS)
            if(EXISTS ${dir}/${dll})
                file(COPY ${dir}/${dll} DESTINATION ${Q218_BIN})
                execute_process(COMMAND ${Q218_STRIP} --strip-debug ${Q218_BIN}/${dll})
                list(APPEND copied ${key})
                list(APPEND pending ${Q218_BIN}/${dll})
                message(STATUS "Bundled: ${dll}")
                break()
            endif()
        endforeach()
    endforeach()
endwhile()
cmake_policy(POP)
