# Run by CPack before it packs (CPACK_PRE_BUILD_SCRIPTS): Debian's copyright file and the
# compressed changelog go into the package's doc folder.
set(doc "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc/quorvel")
file(MAKE_DIRECTORY "${doc}")
file(COPY_FILE "${CPACK_QUORVEL_PACKAGING_DIR}/copyright" "${doc}/copyright")
execute_process(COMMAND gzip -9nc "${CPACK_QUORVEL_PACKAGING_DIR}/changelog"
                OUTPUT_FILE "${doc}/changelog.Debian.gz" COMMAND_ERROR_IS_FATAL ANY)
file(CHMOD "${doc}/copyright" "${doc}/changelog.Debian.gz"
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
