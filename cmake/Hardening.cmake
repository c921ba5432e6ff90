# The hardening a Debian build applies (dpkg-buildflags with
# DEB_BUILD_MAINT_OPTIONS=hardening=+all), stated here so that a build with
# only a compiler and CMake gets it and what the tests run is what ships.
# _FORTIFY_SOURCE works only when optimizing (and warns otherwise), so it goes
# with the optimized build types. The tools are position-independent
# executables. Off by default under the sanitizers, which check every access
# themselves and miss some that the checked C library calls make.
if(TANDEL_SANITIZE)
    set(tandel_harden_default OFF)
else()
    set(tandel_harden_default ON)
endif()
option(TANDEL_HARDEN "Build the library and the tools with the hardening flags of a Debian build"
    ${tandel_harden_default})

include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)

function(tandel_harden target)
    if(NOT TANDEL_HARDEN)
        return()
    endif()
    target_compile_options(${target} PRIVATE
        -fstack-protector-strong -Wformat -Werror=format-security)
    target_compile_definitions(${target} PRIVATE
        $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
    target_link_options(${target} PRIVATE LINKER:-z,relro LINKER:-z,now)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL EXECUTABLE)
        set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    endif()
endfunction()
