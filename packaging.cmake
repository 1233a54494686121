# Install rules: the programs and their manual pages, the desktop entry, the icon, the bridge's unit and
# example configuration, and the README. debian/ splits them into packages (make package).
# Tests and benchmarks are deliberately absent here; nothing else in the tree declares install rules.

include(GNUInstallDirs)

set(KELMORA_DATA_DIR ${PROJECT_SOURCE_DIR}/data)
set(KELMORA_ICON_SIZES 48 128 256)

install(TARGETS kelmora kelmora-compat kelmora-cli kelmora-board kelmora-bridge RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# kelmora-cli finds it as ../libexec/kelmora/kelmora-pdf from its own folder.
install(TARGETS kelmora-pdf RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/kelmora)

# The bridge as a service: its unit, and an example configuration with every key
# commented (a conffile in the package: an administrator's edits survive upgrades).
install(FILES ${KELMORA_DATA_DIR}/kelmora-bridge.service DESTINATION /usr/lib/systemd/system)
install(FILES ${KELMORA_DATA_DIR}/bridge.ini DESTINATION /etc/kelmora)

install(FILES ${KELMORA_DATA_DIR}/kelmora.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${KELMORA_DATA_DIR}/kelmora.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size IN LISTS KELMORA_ICON_SIZES)
  install(FILES ${KELMORA_DATA_DIR}/kelmora-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME kelmora.png)
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Manual pages go in compressed, as Debian wants them (gzip -9n: no name, no time stamp).
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
add_custom_target(kelmora_docs ALL DEPENDS ${KELMORA_COMPRESSED})
