# Compiler settings shared by every target of the project: link quorvane_settings.
add_library(quorvane_settings INTERFACE)
target_compile_options(quorvane_settings INTERFACE
    -Wall -Wextra -Wpedantic -Werror -Wshadow -Wconversion -Wno-sign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
    -Wnull-dereference -Wimplicit-fallthrough -Wformat=2)
target_compile_definitions(quorvane_settings INTERFACE
    _FILE_OFFSET_BITS=64 QUORVANE_VERSION="${PROJECT_VERSION}")
target_include_directories(quorvane_settings INTERFACE ${PROJECT_SOURCE_DIR})
if(QUORVANE_SANITIZE)
    target_compile_options(quorvane_settings INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(quorvane_settings INTERFACE -fsanitize=address,undefined)
endif()
