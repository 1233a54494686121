# Install rules and the Debian package: the three programs, the desktop entry, the icon and the README.
# Tests and benchmarks are deliberately absent here; nothing else in the tree declares install rules.

include(GNUInstallDirs)

set(KELMORA_DATA_DIR ${PROJECT_SOURCE_DIR}/data)
set(KELMORA_ICON_SIZES 48 128 256)

install(TARGETS kelmora kelmora-compat kelmora-cli kelmora-board RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${KELMORA_DATA_DIR}/kelmora.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${KELMORA_DATA_DIR}/kelmora.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size IN LISTS KELMORA_ICON_SIZES)
  install(FILES ${KELMORA_DATA_DIR}/kelmora-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME kelmora.png)
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package; installed to /usr, where the program keeps schedules in each user's data folder.
set(CPACK_PACKAGE_NAME kelmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "kelmora developers")
set(CPACK_PACKAGE_CONTACT "kelmora developers <dev@kelmora.local>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop tool for a 16-channel time-switch relay board")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "kelmora developers <dev@kelmora.local>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The short description is CPACK_PACKAGE_DESCRIPTION_SUMMARY; CPack indents this long one and marks its blank lines.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "kelmora edits the schedules of a 16-channel time-switch relay board, writes
them into the board over a serial line and reads them back. It reads and sets
the board's clock and switches its relays by hand.

kelmora-compat is the same program for boards that take the compatibility
relay command; kelmora-board is a simulated board on a pseudo-terminal.")
# Architecture: left unset, CPack takes it from dpkg --print-architecture.
# Linked Qt libraries come from dpkg-shlibdeps; the xcb platform plugin is loaded at run time, so it is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")

include(CPack)
