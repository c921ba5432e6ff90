# Run by CPack on the staged files of the packages, before it packs them
# (CPACK_PRE_BUILD_SCRIPTS): adds what Debian expects of every package and what
# a plain `cmake --install` has no use for.

# The licence as a machine-readable Debian copyright file.
file(READ ${CPACK_RESOURCE_FILE_LICENSE} licence)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" holder "${licence}")
set(holder ${CMAKE_MATCH_1})
string(FIND "${licence}" "Permission" start)
string(SUBSTRING "${licence}" ${start} -1 terms)
string(STRIP "${terms}" terms)
string(REPLACE "\n\n" "\n.\n" terms "${terms}")
string(REPLACE "\n" "\n " terms "${terms}")
set(copyright "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${CPACK_PACKAGE_NAME}

Files: *
Copyright: ${holder}
License: Expat
 ${terms}
")

# The changelog is dated by SOURCE_DATE_EPOCH or else by the last commit, so
# that the amd64 and i386 packages, which share it, carry the same bytes.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    execute_process(COMMAND git -C ${CPACK_TANDEL_SOURCE_DIR} log -1 --format=%ct
        OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(commit_time)
        set(ENV{SOURCE_DATE_EPOCH} ${commit_time})
    endif()
endif()
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)

foreach(component IN LISTS CPACK_COMPONENTS_ALL)
    string(TOUPPER ${component} upper)
    set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
    set(root ${CPACK_TEMPORARY_DIRECTORY}/${component}${CPACK_PACKAGING_INSTALL_PREFIX})
    set(doc ${root}/share/doc/${package})
    file(WRITE ${doc}/copyright "${copyright}")
    file(WRITE ${doc}/changelog "${CPACK_PACKAGE_NAME} (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium

  * Packaged from the ${CPACK_PACKAGE_NAME} sources.

 -- ${CPACK_PACKAGE_CONTACT}  ${date}
")
    file(GLOB manual_pages ${root}/share/man/man*/*)
    foreach(file IN ITEMS ${doc}/changelog ${manual_pages})
        execute_process(COMMAND gzip -9n ${file} COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
    # The installed programs find the library in the system's directories;
    # the relative search path is only for a relocatable install.
    file(GLOB programs ${root}/bin/*)
    foreach(program IN LISTS programs)
        file(RPATH_REMOVE FILE ${program})
    endforeach()
    # The compilers' identification notes are of no use at run time.
    file(GLOB libraries ${root}/lib/*/*.so.*)
    foreach(object IN LISTS programs libraries)
        if(NOT IS_SYMLINK ${object})
            execute_process(COMMAND ${CPACK_TANDEL_STRIP} --remove-section=.comment ${object}
                COMMAND_ERROR_IS_FATAL ANY)
        endif()
    endforeach()
endforeach()
