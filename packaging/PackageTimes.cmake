# Run by cpack before each package is made (CPACK_PRE_BUILD_SCRIPTS): every staged file gets the
# commit's time, so that the archives do not carry the time of the build, and every staged
# folder the mode 0755, which cpack would otherwise take from the umask.
execute_process(COMMAND find ${CPACK_TEMPORARY_INSTALL_DIRECTORY} -type d -exec chmod 0755 {} +
                COMMAND_ERROR_IS_FATAL ANY)
if(NOT CPACK_Q218_SOURCE_DATE_EPOCH)
    return()
endif()
execute_process(COMMAND find ${CPACK_TEMPORARY_INSTALL_DIRECTORY} -exec
                        touch -h -d @${CPACK_Q218_SOURCE_DATE_EPOCH} {} +
                COMMAND_ERROR_IS_FATAL ANY)
