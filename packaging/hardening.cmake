# Hardening of the programs the Debian packages ship, as dpkg-buildflags gives Debian's own
# packages: a stack protector, fortified C library calls (checked against the buffer sizes the
# compiler knows; needs optimisation), stack-clash probes, and relocations made read-only after
# they are all bound at start (bind-now). Included from packaging/CMakeLists.txt, after the
# programs and their libraries are defined.
# Linux with g++ or clang only: the sanitizer and fuzzing builds bring their own
# instrumentation, and a Windows build links differently.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux" OR Q218_SANITIZE OR Q218_FUZZ
   OR NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    return()
endif()

# A Debug build (-O0) leaves fortify out: glibc warns without optimisation, and warnings are
# errors.
set(Q218_HARDENING_OPTIONS -fstack-protector-strong -fstack-clash-protection
    "$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64|i[3-6]86")
    # Control-flow protection (CET), as Debian builds for x86.
    list(APPEND Q218_HARDENING_OPTIONS -fcf-protection)
endif()

# The options go to the code that is shipped: each program and every library of ours it links,
# followed down the link libraries, interface libraries included; Qt's (imported) are built
# already. Test code is left as it is: fortify makes read() and write() must-use, and a test's
# pseudo-terminal plumbing ignores their results on purpose.
function(q218_harden target)
    get_target_property(type ${target} TYPE)
    get_target_property(imported ${target} IMPORTED)
    get_target_property(done ${target} Q218_HARDENED)
    if(imported OR done)
        return()
    endif()
    set_target_properties(${target} PROPERTIES Q218_HARDENED ON)
    set(libraries)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
        target_compile_options(${target} PRIVATE ${Q218_HARDENING_OPTIONS})
        get_target_property(libraries ${target} LINK_LIBRARIES)
    endif()
    get_target_property(interfaceLibraries ${target} INTERFACE_LINK_LIBRARIES)
    foreach(library IN LISTS libraries interfaceLibraries)
        string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" library "${library}")
        if(TARGET "${library}")
            q218_harden(${library})
        endif()
    endforeach()
endfunction()

foreach(program q218-updater q218-flash)
    if(TARGET ${program})
        q218_harden(${program})
        target_link_options(${program} PRIVATE LINKER:-z,relro,-z,now)
    endif()
endforeach()
