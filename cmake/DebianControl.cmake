# Run by CPack on the packages it wrote (CPACK_POST_BUILD_SCRIPTS): gives each
# its Multi-Arch field, which CPack has no setting for, and takes the ldconfig
# calls out of the library's maintainer scripts, which CPack writes for any
# library under /usr/lib: the ldconfig trigger does that work once per dpkg
# run. Each package is unpacked and built again with dpkg-deb; its files and
# their checksums stay as CPack made them.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
    set(tree ${deb}.tree)
    file(REMOVE_RECURSE ${tree})
    execute_process(COMMAND dpkg-deb -R ${deb} ${tree} COMMAND_ERROR_IS_FATAL ANY)
    file(READ ${tree}/DEBIAN/control control)
    string(REGEX MATCH "Package: ([^\n]*)" unused "${control}")
    set(package ${CMAKE_MATCH_1})
    if(NOT DEFINED CPACK_TANDEL_MULTIARCH_${package})
        message(FATAL_ERROR "no Multi-Arch value for ${package}")
    endif()
    string(REGEX REPLACE "(Architecture: [^\n]*\n)" "\\1Multi-Arch: ${CPACK_TANDEL_MULTIARCH_${package}}\n"
        control "${control}")
    file(WRITE ${tree}/DEBIAN/control "${control}")
    foreach(script IN ITEMS postinst postrm)
        if(EXISTS ${tree}/DEBIAN/${script})
            # Only CPack's own script goes, never one given to it.
            file(STRINGS ${tree}/DEBIAN/${script} commands REGEX "^[^#]")
            list(FILTER commands EXCLUDE REGEX
                "^(set -e|if \\[ \"\\$1\" = \"(configure|remove)\" \\]; then|\tldconfig|fi)$")
            if(commands)
                message(FATAL_ERROR "${package}'s ${script} does more than call ldconfig: ${commands}")
            endif()
            file(REMOVE ${tree}/DEBIAN/${script})
        endif()
    endforeach()
    execute_process(COMMAND dpkg-deb --root-owner-group -Zxz -b ${tree} ${deb}
        OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE ${tree})
endforeach()
