# Installing and packaging on Windows, included from packaging/CMakeLists.txt just before
# include(CPack). `cmake --install` puts q218-updater.exe in bin/ and runs Qt's deploy script,
# which calls windeployqt to copy the Qt libraries, the platform and style plugins and the
# compiler's runtime beside it; `cpack` zips that folder, and builds an NSIS installer too
# where makensis is found. On Linux the Debian package settings above apply instead.
if(NOT WIN32 OR NOT TARGET q218-updater)
    return()
endif()

# Qt 6.4 names the script's variable FILENAME_VARIABLE, Qt 6.5 and later OUTPUT_SCRIPT.
if(Qt6Core_VERSION VERSION_LESS 6.5)
    qt_generate_deploy_app_script(TARGET q218-updater FILENAME_VARIABLE q218_deploy_script)
else()
    qt_generate_deploy_app_script(TARGET q218-updater OUTPUT_SCRIPT q218_deploy_script
                                  NO_TRANSLATIONS)
endif()
install(SCRIPT ${q218_deploy_script})

# q218-flash, where it is built, installs itself beside the updater (cli/) and uses the same
# Qt libraries, which the deploy script above has copied. One archive holds every component.
unset(CPACK_COMPONENTS_ALL)

set(CPACK_GENERATOR ZIP)
find_program(Q218_MAKENSIS makensis)
if(Q218_MAKENSIS)
    list(APPEND CPACK_GENERATOR NSIS)
endif()
# The archive holds bin/ at its top, not the Debian package's /usr.
unset(CPACK_PACKAGING_INSTALL_PREFIX)
set(CPACK_STRIP_FILES OFF)
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Q218 Updater")
# A Start-menu entry for the window (NSIS).
set(CPACK_PACKAGE_EXECUTABLES q218-updater "Q218 Updater")
set(CPACK_NSIS_DISPLAY_NAME "Q218 Updater")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
