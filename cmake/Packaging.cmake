# Installation and the Debian packages (make package). Two packages, so that a line PC that only
# runs scripts gets the command line without Qt Widgets:
#   zqprog         zqprog, the udev rule, the sample catalogue, zqprog(1), its bash completion;
#                  it depends on Qt's SQLite driver for the record store;
#   zq-programmer  the window, the demo, the launcher that gives the window a working folder, the
#                  menu entries and icon, zq-programmer(1); it depends on zqprog for the rule and
#                  the catalogue.
include(GNUInstallDirs)

# A package install is built by make package, which builds only what goes in the packages;
# `ninja install` and cpack must not first build every test and benchmark.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(ZQ_DEBIAN_DIR ${PROJECT_SOURCE_DIR}/cmake/debian)
set(ZQ_PACKAGE_FILES ${CMAKE_BINARY_DIR}/package-files)

# The changelog's newest entry is the version the packages carry.
file(STRINGS ${ZQ_DEBIAN_DIR}/changelog ZQ_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT ZQ_CHANGELOG_TOP MATCHES "^zq-programmer \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "cmake/debian/changelog starts with '${ZQ_CHANGELOG_TOP}'; "
                        "its newest entry must be version ${PROJECT_VERSION}")
endif()

# Debian wants manual pages and changelogs compressed, and without a time stamp (gzip -n), so
# that the same source gives the same package.
set(ZQ_PACKAGE_OUTPUTS)
function(zq_gzipped source name)
    set(out ${ZQ_PACKAGE_FILES}/${name}.gz)
    add_custom_command(OUTPUT ${out}
        COMMAND ${CMAKE_COMMAND} -E copy ${source} ${ZQ_PACKAGE_FILES}/${name}
        COMMAND gzip -9nf ${ZQ_PACKAGE_FILES}/${name}
        DEPENDS ${source} VERBATIM)
    set(ZQ_PACKAGE_OUTPUTS ${ZQ_PACKAGE_OUTPUTS} ${out} PARENT_SCOPE)
endfunction()
zq_gzipped(${PROJECT_SOURCE_DIR}/share/man/zqprog.1 zqprog.1)
zq_gzipped(${PROJECT_SOURCE_DIR}/share/man/zq-programmer.1 zq-programmer.1)
zq_gzipped(${ZQ_DEBIAN_DIR}/changelog changelog)
# zq-programmer(1) describes the demo and the launcher too.
foreach(alias zq-programmer-demo zq-programmer-launch)
    add_custom_command(OUTPUT ${ZQ_PACKAGE_FILES}/${alias}.1.gz
        COMMAND ${CMAKE_COMMAND} -E create_symlink zq-programmer.1.gz
                ${ZQ_PACKAGE_FILES}/${alias}.1.gz
        DEPENDS ${ZQ_PACKAGE_FILES}/zq-programmer.1.gz VERBATIM)
    list(APPEND ZQ_PACKAGE_OUTPUTS ${ZQ_PACKAGE_FILES}/${alias}.1.gz)
endforeach()
add_custom_target(package-files ALL DEPENDS ${ZQ_PACKAGE_OUTPUTS})

# zqprog
install(TARGETS zqprog RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
install(FILES ${PROJECT_SOURCE_DIR}/share/Flash.ini
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zq-programmer COMPONENT cli)
# Below the prefix (/usr), where udev reads packaged rules; /etc/udev/rules.d is the admin's.
install(FILES ${PROJECT_SOURCE_DIR}/tools/60-zq-programmer.rules
        DESTINATION lib/udev/rules.d COMPONENT cli)
install(FILES ${ZQ_PACKAGE_FILES}/zqprog.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)
install(FILES ${PROJECT_SOURCE_DIR}/share/bash-completion/zqprog
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT cli)

# zq-programmer
install(TARGETS zq-programmer zq-programmer-demo
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT window)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/tools/zq-programmer-launch
        DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT window)
install(FILES ${PROJECT_SOURCE_DIR}/share/zq-programmer.desktop
              ${PROJECT_SOURCE_DIR}/share/zq-programmer-demo.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT window)
install(FILES ${PROJECT_SOURCE_DIR}/share/icons/hicolor/scalable/apps/zq-programmer.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT window)
install(FILES ${ZQ_PACKAGE_FILES}/zq-programmer.1.gz ${ZQ_PACKAGE_FILES}/zq-programmer-demo.1.gz
              ${ZQ_PACKAGE_FILES}/zq-programmer-launch.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT window)

# Each package's documentation folder: copyright, changelog.gz, the README.
foreach(component_package cli:zqprog window:zq-programmer)
    string(REPLACE ":" ";" pair ${component_package})
    list(GET pair 0 component)
    list(GET pair 1 package)
    install(FILES ${ZQ_DEBIAN_DIR}/copyright ${ZQ_PACKAGE_FILES}/changelog.gz
                  ${PROJECT_SOURCE_DIR}/README.md
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli window)
set(CPACK_PACKAGE_NAME zq-programmer)
set(CPACK_PACKAGE_VENDOR "ZQ Programmer project")
set(CPACK_PACKAGE_CONTACT "ZQ Programmer maintainers <maintainers@zq-programmer.invalid>")
set(CPACK_DEBIAN_PACKAGE_SOURCE zq-programmer)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries' packages (QtCore, Qt Widgets, libusb) are found from the binaries themselves.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

set(CPACK_DEBIAN_CLI_PACKAGE_NAME zqprog)
# Qt loads its SQL drivers as plugins at run time, so shlibdeps finds QtSql but neither driver.
# CPack appends what shlibdeps finds to these. SQLite is the default record store; PostgreSQL
# is only for a store that the stations of a line share.
set(CPACK_DEBIAN_CLI_PACKAGE_DEPENDS "libqt5sql5-sqlite")
set(CPACK_DEBIAN_CLI_PACKAGE_RECOMMENDS "libqt5sql5-psql")
# Reload the rules, so a board already plugged in may be opened at once.
set(CPACK_DEBIAN_CLI_PACKAGE_CONTROL_EXTRA ${ZQ_DEBIAN_DIR}/postinst ${ZQ_DEBIAN_DIR}/postrm)
# CPack puts the first line as the synopsis and indents the rest; an empty line becomes " .".
set(CPACK_COMPONENT_CLI_DESCRIPTION
    "command line for the ZQ USB programmer board
zqprog finds and identifies ZQ programmer boards on USB, stores MCU code
images (raw binary, Intel HEX, S-record, ELF) in a board's SPI flash for
stand-alone programming, programs and verifies target MCUs over SWD, and
updates the board's own firmware, with meaningful exit codes, JSON output
and a log file, for scripts and production lines. Job files pin a released
image by its hash; serial numbers are handed out once and written into each
unit; every unit's record goes to an SQLite or PostgreSQL record store.

This package also holds the udev rule that lets the user at the seat and
the members of the group plugdev open the board, and the sample flash
catalogue Flash.ini.")

set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME zq-programmer)
set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "zqprog (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_WINDOW_DESCRIPTION
    "desktop program for the ZQ USB programmer board
ZQ Programmer finds and identifies the ZQ programmer board on USB, stores MCU
code images in its SPI flash for stand-alone programming, programs and
verifies target MCUs over SWD, and updates the board's own firmware, all
from one window with a log panel.

This package holds the window (zq-programmer, started from the menu in a
working folder of its own) and a demo over a built-in emulated board
(zq-programmer-demo), which shows every button without hardware.")
include(CPack)
