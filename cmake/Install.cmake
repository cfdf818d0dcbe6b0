# Everything that makes Kelvoran a desktop application: the icon rendered from its one drawing
# (for the icon theme and, compiled in, for the window and the tray), the install rules and the
# Debian package.
include(GNUInstallDirs)

set(KELVORAN_APP_ID io.github.kelvoran.Kelvoran)
set(KELVORAN_DATA_DIR ${PROJECT_SOURCE_DIR}/data)
set(KELVORAN_ICON_SVG ${KELVORAN_DATA_DIR}/${KELVORAN_APP_ID}.svg)
set(KELVORAN_ICON_SIZES 16 22 24 32 48 64 128 256)

# The program reports the project's version; its application id names the desktop entry.
target_compile_definitions(kelvoran_app PUBLIC
  KELVORAN_VERSION="${PROJECT_VERSION}" KELVORAN_APP_ID="${KELVORAN_APP_ID}")

# The PNG sizes of the icon, rendered from the drawing at build time. The same files go into the
# icon theme and into the program, so the window and the tray show exactly what the menu shows.
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
set(icon_pngs)
foreach(size ${KELVORAN_ICON_SIZES})
  set(png ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/icons
    COMMAND ${RSVG_CONVERT} --width=${size} --height=${size} --format=png
            --output=${png} ${KELVORAN_ICON_SVG}
    DEPENDS ${KELVORAN_ICON_SVG}
    COMMENT "Rendering the ${size}x${size} icon"
    VERBATIM)
  list(APPEND icon_pngs ${png})
  install(FILES ${png}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
    RENAME ${KELVORAN_APP_ID}.png)
endforeach()
qt_add_resources(kelvoran_app kelvoran_icons
  PREFIX /icons
  BASE ${CMAKE_CURRENT_BINARY_DIR}/icons
  FILES ${icon_pngs})

# Debian wants the manual page and the changelog compressed, and reproducibly (no name or time in
# the gzip header).
set(gz_files)
foreach(file kelvoran.1 changelog)
  set(gz ${CMAKE_CURRENT_BINARY_DIR}/${file}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND gzip -9nc ${KELVORAN_DATA_DIR}/${file} > ${gz}
    DEPENDS ${KELVORAN_DATA_DIR}/${file}
    COMMENT "Compressing ${file}")
  list(APPEND gz_files ${gz})
endforeach()
add_custom_target(kelvoran_compressed DEPENDS ${gz_files})
add_dependencies(kelvoran kelvoran_compressed)

install(TARGETS kelvoran RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${KELVORAN_DATA_DIR}/${KELVORAN_APP_ID}.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${KELVORAN_ICON_SVG}
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${KELVORAN_DATA_DIR}/${KELVORAN_APP_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kelvoran.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${KELVORAN_DATA_DIR}/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package: `cpack -G DEB` in a release build makes kelvoran_<version>_amd64.deb.
set(CPACK_PACKAGE_NAME kelvoran)
set(CPACK_PACKAGE_VENDOR "The Kelvoran developers")
set(CPACK_PACKAGE_CONTACT "The Kelvoran developers <kelvoran@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "announces friends and foes joining a game server")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://github.com/kelvoran/kelvoran")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Not "games": that section is for games installed in /usr/games.
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The long description under the summary; CPack indents its lines as the control file wants.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Kelvoran sits in the system tray and tells you, with a sound, when someone
you watch for joins your Unreal Tournament (1999) server: one WAV file for a
friend, another for a foe, once per visit. It reads the players from the
server's web administration.")
include(CPack)
