# What `cmake --install` puts under the prefix and what `cpack -G DEB` packs:
# the two programs, the desktop entry, the file type of safes, the icons in
# the hicolor theme, the man pages, the AppStream metadata, the bash
# completion of quorvane-cli and Debian's copyright and changelog.

include(GNUInstallDirs)

set(QUORVANE_RESOURCES ${PROJECT_SOURCE_DIR}/resources)
# The sizes desktops look up in hicolor before they fall back to scaling.
set(QUORVANE_ICON_SIZES 16 22 24 32 48 64 128 256)

foreach(program quorvane quorvane-cli)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()

install(FILES ${QUORVANE_RESOURCES}/quorvane.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${QUORVANE_RESOURCES}/quorvane-mime.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME quorvane.xml)

# Debian policy wants man pages and changelogs compressed; -n keeps the
# archive free of the build time so that two builds give the same bytes.
find_program(QUORVANE_GZIP gzip)
function(quorvane_install_compressed source name destination)
    if(NOT QUORVANE_GZIP)
        install(FILES ${source} DESTINATION ${destination} RENAME ${name})
        return()
    endif()
    set(compressed ${PROJECT_BINARY_DIR}/compressed/${name}.gz)
    add_custom_command(OUTPUT ${compressed}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/compressed
        COMMAND ${QUORVANE_GZIP} -9n -c ${source} > ${compressed}
        DEPENDS ${source}
        COMMENT "Compressing ${name}"
        VERBATIM)
    string(MAKE_C_IDENTIFIER ${name} target)
    add_custom_target(quorvane_gzip_${target} ALL DEPENDS ${compressed})
    install(FILES ${compressed} DESTINATION ${destination})
endfunction()

quorvane_install_compressed(${PROJECT_SOURCE_DIR}/cli/quorvane-cli.1 quorvane-cli.1
    ${CMAKE_INSTALL_MANDIR}/man1)
if(TARGET quorvane)
    quorvane_install_compressed(${PROJECT_SOURCE_DIR}/app/quorvane.1 quorvane.1
        ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# What Debian wants beside every package's files: the licences and the
# history of the package. The package is built from this tree itself, with
# no Debian revision in its version, so it is a native package, whose
# changelog is called changelog.gz (changelog.Debian.gz is for packages made
# from someone else's release).
set(QUORVANE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/quorvane)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${QUORVANE_DOC_DIR})
quorvane_install_compressed(${PROJECT_SOURCE_DIR}/packaging/changelog changelog
    ${QUORVANE_DOC_DIR})

install(FILES ${QUORVANE_CLI_COMPLETION}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME quorvane-cli)
if(TARGET quorvane)
    install(FILES ${QUORVANE_RESOURCES}/org.quorvane.Quorvane.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# Icons: the SVGs go in as they are; the PNG sizes are rendered from them at
# build time by a small Qt program, so the pictures exist in one place only.
function(quorvane_install_icon svg name context)
    set(hicolor ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
    install(FILES ${svg} DESTINATION ${hicolor}/scalable/${context} RENAME ${name}.svg)
    if(NOT TARGET quorvane-render-icon)
        return()
    endif()
    set(folder ${PROJECT_BINARY_DIR}/icons/${context})
    # Small sizes have drawings of their own beside the icon, ICON-16.svg and
    # the like; one made for up to two pixels more serves a size as well.
    get_filename_component(drawings_folder ${svg} DIRECTORY)
    get_filename_component(stem ${svg} NAME_WE)
    set(outputs)
    set(sizes)
    set(drawings)
    foreach(size ${QUORVANE_ICON_SIZES})
        set(argument ${size})
        foreach(extra 0 1 2)
            math(EXPR drawn "${size} + ${extra}")
            set(drawing ${drawings_folder}/${stem}-${drawn}.svg)
            if(argument STREQUAL "${size}" AND EXISTS ${drawing})
                set(argument ${size}=${drawing})
                list(APPEND drawings ${drawing})
            endif()
        endforeach()
        list(APPEND sizes ${argument})
        list(APPEND outputs ${folder}/${size}x${size}/${name}.png)
        install(FILES ${folder}/${size}x${size}/${name}.png
            DESTINATION ${hicolor}/${size}x${size}/${context})
    endforeach()
    # The renderer is a build tool: leaks reported by a sanitized build of it
    # would fail the build without telling anything about the product.
    add_custom_command(OUTPUT ${outputs}
        COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 QT_QPA_PLATFORM=offscreen
            $<TARGET_FILE:quorvane-render-icon> ${svg} ${folder} ${name} ${sizes}
        DEPENDS quorvane-render-icon ${svg} ${drawings}
        COMMENT "Rendering the ${name} icon"
        VERBATIM)
    add_custom_target(quorvane_icon_${name} ALL DEPENDS ${outputs})
endfunction()

# The program icon (107/108), under whichever name the icon set gives it.
set(QUORVANE_APP_ICON)
foreach(candidate app.svg quorvane.svg)
    if(NOT QUORVANE_APP_ICON AND EXISTS ${QUORVANE_RESOURCES}/icons/${candidate})
        set(QUORVANE_APP_ICON ${QUORVANE_RESOURCES}/icons/${candidate})
    endif()
endforeach()
if(QUORVANE_BUILD_GUI AND QUORVANE_APP_ICON)
    add_executable(quorvane-render-icon ${QUORVANE_RESOURCES}/RenderIcon.cpp)
    target_link_libraries(quorvane-render-icon PRIVATE quorvane_settings Qt6::Gui Qt6::Svg)
    set_target_properties(quorvane-render-icon PROPERTIES AUTOMOC OFF)
    quorvane_install_icon(${QUORVANE_APP_ICON} quorvane apps)
    quorvane_install_icon(${QUORVANE_RESOURCES}/application-x-quorvane-safe.svg
        application-x-quorvane-safe mimetypes)
endif()

# The Debian package. Library dependencies come from dpkg-shlibdeps; the
# desktop database, the MIME database and the icon cache are refreshed by
# the dpkg triggers of desktop-file-utils, shared-mime-info and the icon
# theme, so the package needs no maintainer scripts.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VENDOR "Quorvane developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION "Quorvane keeps any number of ordinary files inside one encrypted
file, a safe (.cx). The desktop program creates and opens safes, adds,
extracts, renames and deletes the files in them and changes their password;
quorvane-cli does the same from a terminal or a script.")
set(CPACK_PACKAGE_CONTACT "Quorvane developers <developers@quorvane.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Named as well as found by dpkg-shlibdeps: sealed safes cannot be opened
# without it, so the package must never be installable without it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsodium23")
# The safe as a folder: a user mounts and unmounts it through fusermount3.
string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", fuse3")
# Closing on screen lock, sleep and log-out speaks D-Bus through sd-bus.
string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libsystemd0")
if(TARGET quorvane)
    # Qt loads the SVG icon engine as a plug-in, which dpkg-shlibdeps cannot see.
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libqt6svg6")
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
    # The password dialog starts an on-screen keyboard when one is installed.
    set(CPACK_DEBIAN_PACKAGE_SUGGESTS "onboard | xvkbd")
endif()
include(CPack)
