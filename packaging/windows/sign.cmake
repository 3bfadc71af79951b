# Run by cpack for each Windows package, twice: once it has installed and stripped the package's
# files (CPACK_PRE_BUILD_SCRIPTS), it signs the programs and tavdl.dll, so that the installer, the
# ZIP and the MSI each hold them signed; once it has made the package (CPACK_POST_BUILD_SCRIPTS,
# with CPACK_PACKAGE_FILES), it signs the installer or the MSI itself. scripts/sign-windows decides
# whether to sign at all, and signs.
set(reuse "")
if(DEFINED CPACK_PACKAGE_FILES)
    set(files ${CPACK_PACKAGE_FILES})
    list(FILTER files INCLUDE REGEX "\\.(exe|msi)$")
else()
    file(GLOB_RECURSE files LIST_DIRECTORIES false ${CPACK_TEMPORARY_DIRECTORY}/*.exe
         ${CPACK_TEMPORARY_DIRECTORY}/*.dll)
    # Each package gets the programs that the first one got signed: the same bytes in each.
    set(reuse --reuse ${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/signed)
endif()
if(files)
    execute_process(COMMAND ${CPACK_VEXIL_SOURCE_DIR}/scripts/sign-windows ${reuse} ${files}
                    COMMAND_ERROR_IS_FATAL ANY)
endif()
