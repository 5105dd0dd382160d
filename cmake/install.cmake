# What `cmake --install` puts where, and the Debian package that tools/package
# makes of the same files with CPack.
#
#   bin/ulmora, bin/ulmora-pipe
#   share/applications/<id>.desktop             the launcher entry
#   share/icons/hicolor/scalable/apps/<id>.svg  the icon, and PNGs of it at
#   share/icons/hicolor/NxN/apps/<id>.png       each size launchers draw
#   share/metainfo/<id>.metainfo.xml            what software centres show
#   share/man/man1/ulmora.1.gz, ulmora-pipe.1.gz
#
# <id> is the reverse-DNS application id. The desktop entry, the icon and the
# AppStream file must share it, and so does the autostart entry that the
# program writes: desktops match the running window to its launcher entry by it.

include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/icons.cmake)

set(ULMORA_APP_ID io.github.ulmora.Ulmora)
set(ULMORA_HOMEPAGE "https://github.com/ulmora/ulmora"
    CACHE STRING "Home page named in the AppStream file and the package")
set(ULMORA_SCREENSHOT_URL "https://raw.githubusercontent.com/ulmora/ulmora/main/docs/main.png"
    CACHE STRING "Address of the README's screenshot, for the AppStream file")
# The sizes of the icon theme's fixed-size folders that launchers, menus and
# task bars look in first.
set(ULMORA_ICON_SIZES 16 22 24 32 48 64 128 256)

install(TARGETS ulmora ulmora-pipe RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(UNIX AND NOT APPLE)
    set(linux_src ${CMAKE_SOURCE_DIR}/resources/linux)
    set(linux_out ${CMAKE_BINARY_DIR}/resources/linux)

    install(FILES ${linux_src}/${ULMORA_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

    # The release's version and the addresses go into the AppStream file.
    configure_file(${linux_src}/${ULMORA_APP_ID}.metainfo.xml.in
        ${linux_out}/${ULMORA_APP_ID}.metainfo.xml @ONLY)
    install(FILES ${linux_out}/${ULMORA_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

    set(hicolor ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
    install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/ulmora.svg
        DESTINATION ${hicolor}/scalable/apps RENAME ${ULMORA_APP_ID}.svg)
    ulmora_render_icon_pngs(ulmora_icon_pngs
        SVG ${CMAKE_SOURCE_DIR}/resources/icons/ulmora.svg
        SIZES ${ULMORA_ICON_SIZES}
        OUTPUT_DIR ${linux_out}/icons
        OUTPUTS icon_pngs)
    foreach(size png IN ZIP_LISTS ULMORA_ICON_SIZES icon_pngs)
        install(FILES ${png} DESTINATION ${hicolor}/${size}x${size}/apps
            RENAME ${ULMORA_APP_ID}.png)
    endforeach()

    # Man pages carry the version and are compressed, as man-db reads them on
    # Debian.
    find_program(ULMORA_GZIP gzip REQUIRED)
    set(man_pages)
    foreach(page ulmora.1 ulmora-pipe.1)
        configure_file(${linux_src}/${page}.in ${linux_out}/man/${page} @ONLY)
        add_custom_command(OUTPUT ${linux_out}/man/${page}.gz
            COMMAND ${ULMORA_GZIP} -9 --no-name --keep --force ${linux_out}/man/${page}
            DEPENDS ${linux_out}/man/${page}
            COMMENT "Compressing the man page ${page}"
            VERBATIM)
        list(APPEND man_pages ${linux_out}/man/${page}.gz)
    endforeach()
    add_custom_target(ulmora_man_pages ALL DEPENDS ${man_pages})
    install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

    # The Debian package: the Depends line is what dpkg-shlibdeps finds for
    # the libraries the programs link, plus the platform plugins that Qt loads
    # at run time and no linker sees.
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGE_NAME ulmora)
    set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
    set(CPACK_PACKAGE_VENDOR "The Ulmora developers")
    set(ULMORA_MAINTAINER "The Ulmora developers <ulmora@users.noreply.github.com>"
        CACHE STRING "Maintainer of the Debian package")
    set(CPACK_PACKAGE_CONTACT "${ULMORA_MAINTAINER}")
    set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "to-do list that lives in the tray")
    # Debian's long description: lines of at most 80 characters.
    string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
        "Ulmora keeps short tasks, each with a one-line summary, an optional"
        "note, an optional due date and time and any number of coloured tags,"
        "in an SQLite file. Its window lists the open tasks and those finished"
        "today; when a task falls due, a sound plays and a balloon rises from"
        "the tray icon. Tasks can also be added from a terminal with the"
        "command ulmora --add.")
    set(CPACK_STRIP_FILES ON)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${ULMORA_HOMEPAGE}")
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
    include(CPack)
endif()
