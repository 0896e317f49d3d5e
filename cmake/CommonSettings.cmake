# Compiler settings shared by every target of the project: link quorvane_settings.
add_library(quorvane_settings INTERFACE)
target_compile_options(quorvane_settings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
    -Wnull-dereference -Wimplicit-fallthrough -Wformat=2)
# Warnings are errors in our own builds (scripts/build, and so the tests and
# CI), where we answer for every warning of the one compiler we build with. A
# packager or anyone building by hand with another compiler, build type or
# optimisation level may meet a warning we never saw (GCC 12 at -O3 reports a
# false -Wrestrict inside std::string): the build goes on there.
if(QUORVANE_WERROR)
    target_compile_options(quorvane_settings INTERFACE -Werror)
endif()
target_compile_definitions(quorvane_settings INTERFACE
    _FILE_OFFSET_BITS=64 QUORVANE_VERSION="${PROJECT_VERSION}")
target_include_directories(quorvane_settings INTERFACE ${PROJECT_SOURCE_DIR})
if(QUORVANE_SANITIZE)
    target_compile_options(quorvane_settings INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(quorvane_settings INTERFACE -fsanitize=address,undefined)
endif()

# Debian's hardening for every program built here: stack canaries, position
# independent executables (address space randomisation), and a GOT that is
# resolved at start and then made read-only. Every target gets them, so the
# tests run the code built the way the shipped programs are.
include(CheckPIESupported)
check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
target_compile_options(quorvane_settings INTERFACE -fstack-protector-strong)
target_link_options(quorvane_settings INTERFACE LINKER:-z,relro,-z,now)
# The checked libc calls need the optimiser to know buffer sizes, and the
# sanitizers check the same accesses themselves (and clash with the checked
# variants), so only the optimised, unsanitized builds get them.
if(NOT QUORVANE_SANITIZE AND NOT QUORVANE_FUZZ)
    target_compile_definitions(quorvane_settings INTERFACE
        $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
endif()
