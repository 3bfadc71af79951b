# Read by cpack before it makes each Windows package (CPACK_PROJECT_CONFIG_FILE). Stripping a
# Windows program writes the current time into its PE header, so the installer and the ZIP
# would hold programs that differ in those bytes; with SOURCE_DATE_EPOCH strip writes that time
# instead. The time of the last commit: packages made from one commit hold the same programs.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    execute_process(COMMAND git -C ${CPACK_VEXIL_SOURCE_DIR} log -1 --format=%ct
                    OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE status ERROR_QUIET)
    if(NOT status EQUAL 0 OR commit_time STREQUAL "")
        # Sources without their history: the time the top CMakeLists.txt was last changed.
        file(TIMESTAMP ${CPACK_VEXIL_SOURCE_DIR}/CMakeLists.txt commit_time "%s" UTC)
    endif()
    set(ENV{SOURCE_DATE_EPOCH} ${commit_time})
endif()
