# Debian packages of this build: `cmake --build <build dir> --target package`
# writes libtandel1, libtandel-dev and tandel-tools for the build's
# architecture (amd64 from the native build, i386 from the 32-bit one).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tandel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the tandel authors")
set(CPACK_PACKAGE_CONTACT "the tandel authors <tandel@example.org>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# CPack puts the project-wide summary in front of every package's own
# description unless it is its default: then each component description's
# first line is its package's summary.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Copyright, changelog, compressed manual pages, no search path in programs,
# no compiler notes; then the Multi-Arch fields and no ldconfig calls.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DebianStaging.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DebianControl.cmake)
set(CPACK_TANDEL_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_TANDEL_STRIP ${CMAKE_STRIP})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL lib dev)
if(TARGET tandel-profile)
    list(APPEND CPACK_COMPONENTS_ALL tools)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)

set(tandel_lib_package libtandel${PROJECT_VERSION_MAJOR})
set(tandel_same_lib "${tandel_lib_package} (= ${PROJECT_VERSION})")

# dpkg-shlibdeps computes the runtime dependencies when the packages are for
# the build machine's own architecture. It cannot for i386 packages on an amd64
# machine (the multilib compilers bring no i386 package data), so there they
# are stated: the highest minimum version, in the lib32 runtime packages'
# symbols files, of the symbols that the i386 objects import (objdump -T).
execute_process(COMMAND dpkg --print-architecture
    OUTPUT_VARIABLE tandel_host_arch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
else()
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
endif()
if(CPACK_DEBIAN_PACKAGE_ARCHITECTURE STREQUAL tandel_host_arch)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # Where the tool's own library is found; libtandel1 is stated below.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
elseif(CPACK_DEBIAN_PACKAGE_ARCHITECTURE STREQUAL i386)
    set(CPACK_DEBIAN_LIB_PACKAGE_DEPENDS "libc6 (>= 2.33), libgcc-s1 (>= 3.3.1), libstdc++6 (>= 5.2)")
    set(tandel_tools_runtime ", libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 5.2)")
endif()

# The library of each architecture installs beside the other's; so do the
# development files, whose shared files (headers, documentation) are the same
# bytes from either build. One tool serves programs of any architecture.
set(CPACK_TANDEL_MULTIARCH_${tandel_lib_package} same)
set(CPACK_TANDEL_MULTIARCH_libtandel-dev same)
set(CPACK_TANDEL_MULTIARCH_tandel-tools foreign)

set(CPACK_DEBIAN_LIB_PACKAGE_NAME ${tandel_lib_package})
# dpkg's trigger refreshes the dynamic linker's cache. The symbols file, from
# the checked list of exported symbols, lets packages built against the
# library depend on the version that brought the symbols they use.
file(WRITE ${PROJECT_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")
set(tandel_symbols_list ${PROJECT_SOURCE_DIR}/abi/libtandel.${TANDEL_ABI_ARCH}.symbols)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${tandel_symbols_list})
file(STRINGS ${tandel_symbols_list} tandel_symbols)
list(TRANSFORM tandel_symbols REPLACE "^[A-Za-z] (.*)" " \\1@Base ${PROJECT_VERSION}")
list(JOIN tandel_symbols "\n" tandel_symbols)
file(WRITE ${PROJECT_BINARY_DIR}/debian/symbols
    "libtandel.so.${PROJECT_VERSION_MAJOR} ${tandel_lib_package} #MINVER#\n"
    "* Build-Depends-Package: libtandel-dev\n${tandel_symbols}\n")
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA
    ${PROJECT_BINARY_DIR}/debian/triggers ${PROJECT_BINARY_DIR}/debian/symbols)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_LIB_DESCRIPTION "small general-purpose C++ class library
tandel gives Linux programs strings on a byte buffer, a buffered file with
path utilities, a little-endian binary archive, an INI-style profile reader
and writer, a thin IPv4 TCP/UDP socket, an exception class and a version
query. This package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtandel-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS ${tandel_same_lib})
set(CPACK_COMPONENT_DEV_DESCRIPTION "small general-purpose C++ class library (development files)
The headers of tandel, the link to its shared library, its CMake package
(find_package(Tandel)) and its pkg-config file.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME tandel-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${tandel_same_lib}${tandel_tools_runtime}")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "command-line tools of the tandel C++ class library
tandel-profile reads and writes single entries of INI-style profile files
from the command line or from shell scripts, through the library, so that
scripts and programs share one reading of the format and one safe way of
rewriting a profile in place.")

include(CPack)
