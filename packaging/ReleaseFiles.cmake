# Run by cpack after each package generator (CPACK_POST_BUILD_SCRIPTS): beside every package a
# CycloneDX 1.5 bill of materials, <package file>.cdx.json (the ZIP and the installer share
# their name up to the extension), and over every package and bill in the
# folder SHA256SUMS, so that whoever downloads them can check what they got (sha256sum -c).
# A bill lists what the package really holds, read back from the package: the programs, every
# shared library with its SHA-256, the Qt libraries the programs link, and the firmware image
# the programs carry, with the SHA-256 of the image file as committed.

# Bytes that do not change between two builds of one commit: the time is the commit's (cpack
# read DebConfig.cmake, which set SOURCE_DATE_EPOCH for the whole run, before any package),
# the serial number is derived from the package's own hash.
string(TIMESTAMP bomTime "%Y-%m-%dT%H:%M:%SZ" UTC)

function(Q218_AddComponent json index type name version sha256 description)
    set(c "{}")
    string(JSON c SET "${c}" type "\"${type}\"")
    string(JSON c SET "${c}" bom-ref "\"${type}:${name}\"")
    string(JSON c SET "${c}" name "\"${name}\"")
    if(version)
        string(JSON c SET "${c}" version "\"${version}\"")
    endif()
    if(description)
        string(JSON c SET "${c}" description "\"${description}\"")
    endif()
    if(sha256)
        string(JSON c SET "${c}" hashes "[{\"alg\": \"SHA-256\", \"content\": \"${sha256}\"}]")
    endif()
    string(JSON out SET "${${json}}" components ${index} "${c}")
    set(${json} "${out}" PARENT_SCOPE)
endfunction()

# The bill of one package whose files are unpacked in `root`.
function(Q218_WriteBom package root)
    file(SHA256 ${package} packageSha256)
    get_filename_component(packageName ${package} NAME)
    string(UUID serial NAMESPACE 6ba7b811-9dad-11d1-80b4-00c04fd430c8 NAME ${packageSha256}
           TYPE SHA1)
    set(bom "{\"bomFormat\": \"CycloneDX\", \"specVersion\": \"1.5\", \"version\": 1}")
    string(JSON bom SET "${bom}" serialNumber "\"urn:uuid:${serial}\"")
    string(JSON bom SET "${bom}" metadata "{}")
    string(JSON bom SET "${bom}" metadata timestamp "\"${bomTime}\"")
    string(JSON bom SET "${bom}" metadata component
           "{\"type\": \"application\", \"bom-ref\": \"package\", \"name\": \"${packageName}\",
             \"version\": \"${CPACK_PACKAGE_VERSION}\", \"supplier\": {\"name\": \"${CPACK_PACKAGE_VENDOR}\",
             \"url\": [\"${CPACK_Q218_PROJECT_URL}\"]},
             \"hashes\": [{\"alg\": \"SHA-256\", \"content\": \"${packageSha256}\"}]}")
    string(JSON bom SET "${bom}" components "[]")
    set(index 0)

    # The firmware image the programs carry.
    Q218_AddComponent(bom ${index} firmware q218-firmware "${CPACK_Q218_IMAGE_REVISION}"
                      ${CPACK_Q218_IMAGE_SHA256} "${CPACK_Q218_IMAGE_TAG}")
    math(EXPR index "${index} + 1")

    file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${root} ${root}/*)
    list(SORT files)
    set(linked)
    foreach(file IN LISTS files)
        get_filename_component(name ${file} NAME)
        file(SHA256 ${root}/${file} sha256)
        if(name MATCHES "^q218-(updater|flash)(\\.exe)?$")
            Q218_AddComponent(bom ${index} application ${name} ${CPACK_PACKAGE_VERSION} ${sha256}
                              "${file}")
            if(NOT name MATCHES "\\.exe$")
                # The libraries the program loads from the system: Qt's are named with Qt's version.
                execute_process(COMMAND readelf -dW ${root}/${file} OUTPUT_VARIABLE dynamic
                                COMMAND_ERROR_IS_FATAL ANY)
                # (Matched without readelf's "[": an open bracket would join CMake's list items.)
                string(REGEX MATCHALL "libQt6[A-Za-z]+\\.so" needed "${dynamic}")
                foreach(library IN LISTS needed)
                    string(REGEX REPLACE ".*lib(Qt6[A-Za-z]+)\\.so" "\\1" module "${library}")
                    list(APPEND linked ${module})
                endforeach()
            endif()
        elseif(name MATCHES "\\.(dll|so)(\\.[0-9.]+)?$")
            # A library the package itself ships: Qt's own and its plugins, or the compiler's
            # runtime.
            if(name MATCHES "^(Qt6|q)")
                set(version ${CPACK_Q218_QT_VERSION})
                set(what "Qt ${CPACK_Q218_QT_VERSION}: ${file}")
            elseif(name MATCHES "^libwinpthread")
                # MinGW-w64's own runtime, whose version the compiler does not tell.
                set(version "")
                set(what "MinGW-w64 runtime, from the ${CPACK_Q218_RUNTIME} tool chain: ${file}")
            else()
                set(version ${CPACK_Q218_RUNTIME_VERSION})
                set(what "compiler runtime (${CPACK_Q218_RUNTIME}): ${file}")
            endif()
            Q218_AddComponent(bom ${index} library ${name} "${version}" ${sha256} "${what}")
        else()
            continue()
        endif()
        math(EXPR index "${index} + 1")
    endforeach()
    list(REMOVE_DUPLICATES linked)
    list(SORT linked)
    foreach(module IN LISTS linked)
        Q218_AddComponent(bom ${index} library ${module} ${CPACK_Q218_QT_VERSION} ""
                          "Qt ${CPACK_Q218_QT_VERSION} from the system's packages, linked")
        math(EXPR index "${index} + 1")
    endforeach()
    # Beside where cpack puts the package once this script is done.
    file(WRITE ${CPACK_PACKAGE_DIRECTORY}/${packageName}.cdx.json "${bom}\n")
endfunction()

foreach(package IN LISTS CPACK_PACKAGE_FILES)
    set(root ${CPACK_TOPLEVEL_DIRECTORY}/q218-bom-contents)
    file(REMOVE_RECURSE ${root})
    file(MAKE_DIRECTORY ${root})
    if(package MATCHES "\\.deb$")
        execute_process(COMMAND dpkg-deb -x ${package} ${root} COMMAND_ERROR_IS_FATAL ANY)
    elseif(package MATCHES "\\.zip$")
        file(ARCHIVE_EXTRACT INPUT ${package} DESTINATION ${root})
    else()
        # The installer holds the same monolithic install as the ZIP: its staged tree.
        set(root ${CPACK_TEMPORARY_INSTALL_DIRECTORY})
    endif()
    Q218_WriteBom(${package} ${root})
endforeach()

# SHA256SUMS over the release files in the output folder: those of earlier generators (the
# ZIP before the installer) and this one's, which cpack copies there after this script.
set(folder ${CPACK_PACKAGE_DIRECTORY})
file(GLOB artifacts RELATIVE ${folder} ${folder}/*.deb ${folder}/*.zip ${folder}/*.exe
     ${folder}/*.cdx.json)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    get_filename_component(name ${package} NAME)
    list(APPEND artifacts ${name})
    set(path_${name} ${package})
endforeach()
list(REMOVE_DUPLICATES artifacts)
list(SORT artifacts)
set(sums "")
foreach(artifact IN LISTS artifacts)
    if(NOT DEFINED path_${artifact})
        set(path_${artifact} ${folder}/${artifact})
    endif()
    file(SHA256 ${path_${artifact}} sha256)
    string(APPEND sums "${sha256}  ${artifact}\n")
endforeach()
file(WRITE ${folder}/SHA256SUMS "${sums}")
