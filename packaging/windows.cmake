# Installing and packaging on Windows, included from packaging/CMakeLists.txt just before
# include(CPack). `cmake --install` puts q218-updater.exe and q218-flash.exe in bin/ with the
# DLLs and Qt plugins they load, so that bin/ runs on a Windows machine without Qt; `cpack`
# zips that folder, and builds an NSIS installer too where makensis is found. On Linux the
# Debian package settings above apply instead.
if(NOT WIN32 OR NOT TARGET q218-updater)
    return()
endif()

if(CMAKE_CROSSCOMPILING)
    # Qt 6.4's deploy script runs windeployqt, a Windows program: a build on Linux collects
    # the DLLs from the programs' import tables instead (cmake/CollectWindowsDlls.cmake).
    get_filename_component(qtPlugins "${Q218_QT_BIN_DIR}/../plugins" ABSOLUTE)
    install(CODE "
        set(Q218_BIN \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
        set(Q218_OBJDUMP \"${CMAKE_OBJDUMP}\")
        set(Q218_STRIP \"${CMAKE_STRIP}\")
        set(Q218_DLL_DIRS \"${Q218_WINDOWS_DLL_DIRS}\")
        set(Q218_QT_PLUGINS \"${qtPlugins}\")
        set(Q218_PLUGINS platforms/qwindows.dll styles/qwindowsvistastyle.dll)
        include(\"${PROJECT_SOURCE_DIR}/cmake/CollectWindowsDlls.cmake\")")
elseif(Qt6Core_VERSION VERSION_LESS 6.5)
    # Qt 6.4 names the script's variable FILENAME_VARIABLE, Qt 6.5 and later OUTPUT_SCRIPT.
    qt_generate_deploy_app_script(TARGET q218-updater FILENAME_VARIABLE q218_deploy_script)
    install(SCRIPT ${q218_deploy_script})
else()
    qt_generate_deploy_app_script(TARGET q218-updater OUTPUT_SCRIPT q218_deploy_script
                                  NO_TRANSLATIONS)
    install(SCRIPT ${q218_deploy_script})
endif()

# One archive and one installer with both programs: q218-flash.exe beside the window, using
# the same DLLs.
unset(CPACK_COMPONENTS_ALL)
set(CPACK_MONOLITHIC_INSTALL ON)

set(CPACK_GENERATOR ZIP)
find_program(Q218_MAKENSIS makensis)
if(Q218_MAKENSIS)
    list(APPEND CPACK_GENERATOR NSIS)
endif()
# The archive holds bin/ at its top, not the Debian package's /usr.
unset(CPACK_PACKAGING_INSTALL_PREFIX)
set(CPACK_STRIP_FILES ON)
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Q218 Updater")
# A Start-menu entry for the window (NSIS); the installer also writes an uninstaller and its
# entry in Windows' list of installed programs.
set(CPACK_PACKAGE_EXECUTABLES q218-updater "Q218 Updater")
set(CPACK_NSIS_DISPLAY_NAME "Q218 Updater")
set(CPACK_NSIS_PACKAGE_NAME "Q218 Updater")
set(CPACK_NSIS_INSTALLED_ICON_NAME bin/q218-updater.exe)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# A 64-bit installer for the 64-bit programs, installing into the 64-bit Program Files.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
