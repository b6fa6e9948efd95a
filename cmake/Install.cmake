# Install rules: the program and its decoder, its menu entry, icons, manual
# page, AppStream metainfo and copyright file, laid out as the
# freedesktop.org specifications and the Debian policy expect. The prefix is
# CMAKE_INSTALL_PREFIX (default /usr/local; the Makefile passes PREFIX, the
# Debian package uses /usr).
include(GNUInstallDirs)

set(PICTOLUNE_DATA_DIR ${CMAKE_CURRENT_SOURCE_DIR}/data)
set(PICTOLUNE_APP_ID io.pictolune.Pictolune)

install(TARGETS pictolune RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The decoder process, which the program starts from beside it in a build
# tree and from here once installed.
install(TARGETS pictolune-decoder RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/pictolune)

install(FILES ${PICTOLUNE_DATA_DIR}/pictolune.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

install(FILES ${PICTOLUNE_DATA_DIR}/${PICTOLUNE_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The licence statement, where Debian keeps every package's (share/doc/pictolune).
install(FILES ${PICTOLUNE_DATA_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Icons in the hicolor theme, every size of one design. The 16 x 16 window
# icon compiled into the program stands in for a 16 x 16 rendering in
# data/icons/hicolor when there is none.
set(PICTOLUNE_ICON_SIZES 16 32 48 64 128 256)
foreach(size IN LISTS PICTOLUNE_ICON_SIZES)
    set(icon ${PICTOLUNE_DATA_DIR}/icons/hicolor/${size}x${size}/apps/pictolune.png)
    if(size EQUAL 16 AND NOT EXISTS ${icon})
        set(icon ${PICTOLUNE_DATA_DIR}/icons/pictolune.png)
    endif()
    install(FILES ${icon}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${PICTOLUNE_DATA_DIR}/icons/pictolune.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# The manual page, compressed as Debian installs manual pages. -n leaves the
# name and time out of the gzip header, so the same page gives the same file.
find_program(PICTOLUNE_GZIP gzip REQUIRED)
set(PICTOLUNE_MAN_PAGE ${CMAKE_CURRENT_BINARY_DIR}/pictolune.1.gz)
add_custom_command(OUTPUT ${PICTOLUNE_MAN_PAGE}
    COMMAND ${PICTOLUNE_GZIP} -9 -n -c ${PICTOLUNE_DATA_DIR}/pictolune.1 > ${PICTOLUNE_MAN_PAGE}
    DEPENDS ${PICTOLUNE_DATA_DIR}/pictolune.1
    COMMENT "Compressing the manual page"
    VERBATIM)
add_custom_target(pictolune_man_page ALL DEPENDS ${PICTOLUNE_MAN_PAGE})
install(FILES ${PICTOLUNE_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

include(${CMAKE_CURRENT_LIST_DIR}/Package.cmake)
