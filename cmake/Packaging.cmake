# What a system install holds besides the programs, and the Debian package
# `cpack -G DEB` builds from it (Debian 12): the udev rules, the FPGA player
# (firmware/), a desktop entry, the icon in the hicolor theme, AppStream
# metainfo, man pages, a bash completion, the copyright and the changelog.
set(SPINDLE_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(SPINDLE_APP_ID com.lumora.Spindle)
set(packaged ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${packaged})

# The udev rules. udev reads /usr/lib/udev/rules.d (the package's place) and
# /etc/udev/rules.d (the administrator's); an install anywhere but /usr puts
# the file in the latter, since udev never reads /usr/local. Decided when
# installing, so cpack (which installs to /usr) and `cmake --install` both
# get the right folder. The file keeps its name.
set(SPINDLE_UDEV_RULES_DIR "" CACHE PATH
    "Folder the install puts 60-spindle.rules in (empty: /usr/lib/udev/rules.d when installing to /usr, else /etc/udev/rules.d)")
install(CODE "
  set(rules_dir \"${SPINDLE_UDEV_RULES_DIR}\")
  if(NOT rules_dir)
    if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
      set(rules_dir /usr/lib/udev/rules.d)
    else()
      set(rules_dir /etc/udev/rules.d)
    endif()
  endif()
  file(INSTALL DESTINATION \"\${rules_dir}\" TYPE FILE FILES \"${PROJECT_SOURCE_DIR}/scripts/60-spindle.rules\")
")

# Texts that carry the version, then the compressed forms Debian installs
# (gzip -n: no name or time stamp, the same bytes every build).
find_program(SPINDLE_GZIP gzip REQUIRED)
set(compressed)
foreach(page spindle.1 spindle-cli.1 changelog)
  configure_file(${SPINDLE_PACKAGING_DIR}/${page} ${packaged}/${page} @ONLY)
  add_custom_command(OUTPUT ${packaged}/${page}.gz
                     COMMAND ${SPINDLE_GZIP} -9nkf ${packaged}/${page}
                     DEPENDS ${packaged}/${page} ${SPINDLE_PACKAGING_DIR}/${page}
                     COMMENT "gzip ${page}" VERBATIM)
  list(APPEND compressed ${packaged}/${page}.gz)
endforeach()
add_custom_target(spindle_packaging_texts ALL DEPENDS ${compressed})
configure_file(${SPINDLE_PACKAGING_DIR}/${SPINDLE_APP_ID}.metainfo.xml ${packaged}/${SPINDLE_APP_ID}.metainfo.xml @ONLY)

install(FILES ${packaged}/spindle-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${SPINDLE_PACKAGING_DIR}/spindle-cli.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME spindle-cli)
install(FILES ${SPINDLE_PACKAGING_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/spindle)
install(FILES ${packaged}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/spindle RENAME changelog.gz)  # a native package's

# The window's own files: its man page, the menu entry, the metainfo and the
# icon, drawn at every size by the code that draws the window's icon.
if(TARGET spindle)
  install(FILES ${packaged}/spindle.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${SPINDLE_PACKAGING_DIR}/${SPINDLE_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${packaged}/${SPINDLE_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${SPINDLE_PACKAGING_DIR}/spindle.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

  find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets)  # its targets are seen per folder
  add_executable(spindle_write_icons ${SPINDLE_PACKAGING_DIR}/write-icons.cpp)
  target_link_libraries(spindle_write_icons PRIVATE spindle_gui)
  set(SPINDLE_ICON_SIZES 16 22 24 32 48 64 128 256)
  set(icons)
  foreach(size ${SPINDLE_ICON_SIZES})
    list(APPEND icons ${packaged}/icons/${size}x${size}/apps/spindle.png)
  endforeach()
  add_custom_command(OUTPUT ${icons}
                     COMMAND spindle_write_icons ${packaged}/icons spindle
                     DEPENDS spindle_write_icons
                     COMMENT "application icons" VERBATIM)
  add_custom_target(spindle_icons ALL DEPENDS ${icons})
  foreach(size ${SPINDLE_ICON_SIZES})
    install(FILES ${packaged}/icons/${size}x${size}/apps/spindle.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME spindle)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Spindle developers")
set(CPACK_PACKAGE_CONTACT "Spindle maintainers <maintainers@users.noreply.c-seed-aa047935.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service and manufacturing tool for USB spectrometers")
set(CPACK_PACKAGE_DESCRIPTION "Spindle shows every attached spectrometer and light source of the family,
reads and edits the calibration values stored inside each instrument, backs
them up and restores them, and programs boot-EEPROM firmware and FPGA images
into one or many devices at once.
.
It comes as a desktop application (spindle) and a command-line tool
(spindle-cli), both with a built-in simulated bench to try everything
without hardware.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The PostgreSQL client library is loaded when a PostgreSQL history is
# opened, not linked, so the library scan does not see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libpq5")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# Install to /usr itself (under DESTDIR), so the udev rules find their folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
include(CPack)
