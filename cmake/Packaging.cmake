# Installation and the Debian package (make package): the three programs, the launcher that
# gives the window a working folder, the menu entries and icon, the sample catalogue, the README
# and, when present, the udev rule that lets the logged-in user open the board.
include(GNUInstallDirs)

install(TARGETS zq-programmer zq-programmer-demo zqprog
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS ${PROJECT_SOURCE_DIR}/tools/zq-programmer-launch
        DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/share/Flash.ini
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zq-programmer)
install(FILES ${PROJECT_SOURCE_DIR}/share/zq-programmer.desktop
              ${PROJECT_SOURCE_DIR}/share/zq-programmer-demo.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/share/icons/hicolor/scalable/apps/zq-programmer.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# udev reads packaged rules from /lib/udev/rules.d whatever the prefix; /etc is the admin's.
set(ZQ_UDEV_RULE ${PROJECT_SOURCE_DIR}/tools/60-zq-programmer.rules)
if(EXISTS ${ZQ_UDEV_RULE})
    install(FILES ${ZQ_UDEV_RULE} DESTINATION /lib/udev/rules.d)
    # Reload the rules, so a board already plugged in may be opened at once.
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/postinst
                                           ${PROJECT_SOURCE_DIR}/cmake/debian/postrm)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zq-programmer)
set(CPACK_PACKAGE_VENDOR "ZQ Programmer project")
set(CPACK_PACKAGE_CONTACT "ZQ Programmer maintainers <maintainers@zq-programmer.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Drive the ZQ USB programmer board: program and verify MCUs")
# CPack puts the summary first and indents the rest; an empty line becomes the Debian " .".
set(CPACK_PACKAGE_DESCRIPTION
    "ZQ Programmer finds and identifies the ZQ programmer board on USB, stores MCU
code images in its SPI flash for stand-alone programming, programs and
verifies target MCUs over SWD, and updates the board's own firmware.

This package holds the desktop program (zq-programmer, started from the menu
in a working folder of its own), a demo over a built-in emulated board
(zq-programmer-demo) and the command-line front end zqprog for scripts and
production lines.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries' packages (Qt 5, libusb) are found from the binaries themselves.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
