# Read by cpack for each generator. Debian packages: each component's description carries its
# own synopsis line, so the project's common summary must not be put in front of it.
if(CPACK_GENERATOR STREQUAL "DEB")
    unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
endif()
# Archive headers and member times are the commit's: cpack reads SOURCE_DATE_EPOCH.
if(CPACK_Q218_SOURCE_DATE_EPOCH)
    set(ENV{SOURCE_DATE_EPOCH} ${CPACK_Q218_SOURCE_DATE_EPOCH})
endif()
