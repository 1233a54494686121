# Install rules and the Debian package: the programs and their manual pages, the desktop entry, the icon,
# the README, the changelog and the copyright file.
# Tests and benchmarks are deliberately absent here; nothing else in the tree declares install rules.

include(GNUInstallDirs)

set(KELMORA_DATA_DIR ${PROJECT_SOURCE_DIR}/data)
set(KELMORA_ICON_SIZES 48 128 256)

install(TARGETS kelmora kelmora-compat kelmora-cli kelmora-board kelmora-bridge RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The bridge as a service: its unit, and an example configuration with every key
# commented, kept as a conffile (an administrator's edits survive upgrades).
install(FILES ${KELMORA_DATA_DIR}/kelmora-bridge.service DESTINATION /lib/systemd/system)
install(FILES ${KELMORA_DATA_DIR}/bridge.ini DESTINATION /etc/kelmora)
file(WRITE ${CMAKE_BINARY_DIR}/debian/conffiles "/etc/kelmora/bridge.ini\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/conffiles)

install(FILES ${KELMORA_DATA_DIR}/kelmora.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${KELMORA_DATA_DIR}/kelmora.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size IN LISTS KELMORA_ICON_SIZES)
  install(FILES ${KELMORA_DATA_DIR}/kelmora-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME kelmora.png)
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${KELMORA_DATA_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Manual pages and the changelog go in compressed, as Debian wants them (gzip -9n: no name, no time stamp).
set(KELMORA_MAN_PAGES kelmora kelmora-compat kelmora-board kelmora-bridge)
# Programs declared before this file is included (it comes last) get their page.
if(TARGET kelmora-cli)
  list(APPEND KELMORA_MAN_PAGES kelmora-cli)
endif()
set(KELMORA_COMPRESSED)
function(kelmora_gzip source output)
  get_filename_component(plain ${output} NAME_WLE)
  get_filename_component(folder ${output} DIRECTORY)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${folder}/${plain}
    COMMAND gzip -9nf ${folder}/${plain}
    DEPENDS ${source} VERBATIM)
  set(KELMORA_COMPRESSED ${KELMORA_COMPRESSED} ${output} PARENT_SCOPE)
endfunction()
foreach(page IN LISTS KELMORA_MAN_PAGES)
  kelmora_gzip(${KELMORA_DATA_DIR}/man/${page}.1 ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
  install(FILES ${CMAKE_BINARY_DIR}/man/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
kelmora_gzip(${KELMORA_DATA_DIR}/changelog ${CMAKE_BINARY_DIR}/doc/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/doc/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
add_custom_target(kelmora_docs ALL DEPENDS ${KELMORA_COMPRESSED})

# The Debian package; installed to /usr, where the program keeps schedules in each user's data folder.
set(CPACK_PACKAGE_NAME kelmora)
# No list or forge address exists yet; replace this one when it does.
set(KELMORA_MAINTAINER "kelmora developers <kelmora-dev@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "kelmora developers")
set(CPACK_PACKAGE_CONTACT "${KELMORA_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop tool for a 16-channel time-switch relay board")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KELMORA_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The short description is CPACK_PACKAGE_DESCRIPTION_SUMMARY; CPack indents this long one and marks its blank lines.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "kelmora edits the schedules of a 16-channel time-switch relay board, writes
them into the board over a serial line and reads them back. It reads and sets
the board's clock and switches its relays by hand.

kelmora-compat is the same program for boards that take the compatibility
relay command; kelmora-board is a simulated board on a pseudo-terminal;
kelmora-cli drives a board from scripts, and kelmora-bridge serves every board
on an MQTT broker, with Home Assistant discovery, as a systemd service.")
# Debian wants directories 0755 and files 0644 whatever the build machine's umask.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Architecture: left unset, CPack takes it from dpkg --print-architecture.
# Linked Qt libraries come from dpkg-shlibdeps; the xcb platform plugin is loaded at run time, so it is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-translations-l10n, fonts-wqy-microhei | fonts-noto-cjk")

include(CPack)
