# The MSI, Vexilware-<version>-win64.msi: run by `cpack -G External` (CPACK_EXTERNAL_PACKAGE_SCRIPT)
# once cpack has installed the package's files into its staging folder, stripped and signed them
# as for the installer and the ZIP. From those files and Vexilware.wxs.in it writes the .wxs
# beside the staging folder and makes the MSI there with wixl (Debian's `wixl`), which takes the
# files it names relative to the folder it runs in.
set(folder ${CPACK_TOPLEVEL_DIRECTORY})
set(staging ${CPACK_TEMPORARY_DIRECTORY})
file(RELATIVE_PATH staged ${folder} ${staging})
set(wxs ${folder}/${CPACK_PACKAGE_FILE_NAME}.wxs)
set(msi ${folder}/${CPACK_PACKAGE_FILE_NAME}.msi)
set(template ${CMAKE_CURRENT_LIST_DIR}/Vexilware.wxs.in)
file(COPY_FILE ${CPACK_VEXIL_ICON} ${folder}/vexilware.ico)
set(icon vexilware.ico)
find_program(wixl wixl REQUIRED)

# Windows Installer compares the first three fields of a version, each a number up to 255, 255
# and 65535; a fourth would not tell two versions apart.
set(version ${CPACK_PACKAGE_VERSION})
if(NOT version MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$" OR CMAKE_MATCH_1 GREATER 255
   OR CMAKE_MATCH_2 GREATER 255 OR CMAKE_MATCH_3 GREATER 65535)
    message(FATAL_ERROR "version ${version}: an MSI needs three numbers up to 255.255.65535")
endif()

# Codes made from the upgrade code with a name (name-based UUIDs), so that they are the same in
# every build: the product code from the version, a component's code from its file's name (one
# file keeps its component from version to version, as Windows Installer expects).
file(READ ${template} template_text)
if(NOT template_text MATCHES "UpgradeCode=\"([0-9A-F-]+)\"")
    message(FATAL_ERROR "${template} holds no upgrade code")
endif()
set(upgrade_code ${CMAKE_MATCH_1})
string(UUID product_code NAMESPACE ${upgrade_code} NAME "product ${version}"
       TYPE SHA1 UPPER)

# The programs that get a Start-menu entry, as the installer makes them: pairs of a program's name
# and the entry's text. Each entry starts its program in the install folder, where RS.BIN is.
set(pairs ${CPACK_PACKAGE_EXECUTABLES})
while(pairs)
    list(POP_FRONT pairs program text)
    set("entry_of_${program}.exe" "${text}")
endwhile()

# One component for each file, in the order of their names.
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${staging} ${staging}/*)
list(SORT files)
set(components "")
set(component_refs "")
foreach(file IN LISTS files)
    if(file MATCHES "/")
        message(FATAL_ERROR "${file}: the MSI takes the files of the install folder only")
    endif()
    string(MAKE_C_IDENTIFIER "${file}" id)
    string(UUID guid NAMESPACE ${upgrade_code} NAME "file ${file}" TYPE SHA1 UPPER)
    string(APPEND components
           "          <Component Id=\"c_${id}\" Guid=\"${guid}\" Win64=\"yes\">\n"
           "            <File Id=\"f_${id}\" Name=\"${file}\" Source=\"${staged}/${file}\"\n"
           "                  KeyPath=\"yes\"/>\n")
    if(DEFINED "entry_of_${file}")
        string(APPEND components
               "            <Shortcut Id=\"s_${id}\" Directory=\"ProgramMenuFolder\"\n"
               "                      Name=\"${entry_of_${file}}\" Target=\"[#f_${id}]\"\n"
               "                      WorkingDirectory=\"INSTALLDIR\"/>\n")
    endif()
    string(APPEND components "          </Component>\n")
    string(APPEND component_refs "      <ComponentRef Id=\"c_${id}\"/>\n")
endforeach()
string(REGEX REPLACE "\n$" "" components "${components}")
string(REGEX REPLACE "\n$" "" component_refs "${component_refs}")
configure_file(${template} ${wxs} @ONLY)

# The cabinet keeps each file's time: the time of the last commit, as for the programs inside
# (SOURCE_DATE_EPOCH, packaging/windows/cpack_options.cmake), rather than that of this run.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    list(TRANSFORM files PREPEND ${staging}/ OUTPUT_VARIABLE paths)
    execute_process(COMMAND touch -h -d @$ENV{SOURCE_DATE_EPOCH} ${paths}
                    COMMAND_ERROR_IS_FATAL ANY)
endif()
execute_process(COMMAND ${wixl} --arch x64 --output ${msi} ${wxs} WORKING_DIRECTORY ${folder}
                COMMAND_ERROR_IS_FATAL ANY)
set(CPACK_EXTERNAL_BUILT_PACKAGES ${msi})
