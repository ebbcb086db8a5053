# SPDX-License-Identifier: GPL-3.0-or-later
# The installed program: its folder (/opt/zorbinka unless CMAKE_INSTALL_PREFIX says otherwise) with the
# executable, the .cfg and the catalogue side by side, a command in /usr/bin, the menu entry, icons, AppStream
# metadata and udev rules; `make package` makes a Debian package of it.
if(NOT ZORBINKA_PREFIX_CHOSEN)
    if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT OR CMAKE_INSTALL_PREFIX STREQUAL "/usr/local")
        set(CMAKE_INSTALL_PREFIX /opt/zorbinka CACHE PATH "The program's folder" FORCE)
    endif()
    set(ZORBINKA_PREFIX_CHOSEN ON CACHE INTERNAL "")
endif()
set(ZORBINKA_SYSTEM_PREFIX /usr CACHE PATH "Where the command, the menu entry and the icons go")
set(ZORBINKA_UDEV_RULES_DIR /usr/lib/udev/rules.d CACHE PATH "The system's udev rules folder")
set(ZORBINKA_CONF_DIR /etc/zorbinka CACHE PATH "Where the shipped settings go (a package's configuration file)")

install(TARGETS zorbinka RUNTIME DESTINATION .)
# The settings are the system's configuration file, kept by upgrades; the program reads them through a link
# beside its executable.
install(FILES ${CMAKE_SOURCE_DIR}/resources/zorbinka.cfg DESTINATION ${ZORBINKA_CONF_DIR})
install(CODE "
    set(link \"\$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/zorbinka.cfg\")
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}\")
    file(REMOVE \"\${link}\")
    file(CREATE_LINK \"${ZORBINKA_CONF_DIR}/zorbinka.cfg\" \"\${link}\" SYMBOLIC)
    message(STATUS \"Installing: \${link}\")")
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/ DESTINATION data)
# The command: the program finds its folder through the link's target.
install(CODE "
    set(link \"\$ENV{DESTDIR}${ZORBINKA_SYSTEM_PREFIX}/bin/zorbinka\")
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}${ZORBINKA_SYSTEM_PREFIX}/bin\")
    file(REMOVE \"\${link}\")
    file(CREATE_LINK \"${CMAKE_INSTALL_PREFIX}/zorbinka\" \"\${link}\" SYMBOLIC)
    message(STATUS \"Installing: \${link}\")")

set(desktop ${CMAKE_SOURCE_DIR}/resources/desktop)
install(FILES ${desktop}/org.zorbinka.Zorbinka.desktop DESTINATION ${ZORBINKA_SYSTEM_PREFIX}/share/applications)
install(FILES ${desktop}/org.zorbinka.Zorbinka.metainfo.xml DESTINATION ${ZORBINKA_SYSTEM_PREFIX}/share/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/zorbinka.svg
        DESTINATION ${ZORBINKA_SYSTEM_PREFIX}/share/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_SOURCE_DIR}/resources/60-zorbinka-sensors.rules DESTINATION ${ZORBINKA_UDEV_RULES_DIR})
install(FILES ${desktop}/copyright DESTINATION ${ZORBINKA_SYSTEM_PREFIX}/share/doc/zorbinka)
# A school's own broker for lessons in class: a sample configuration and access list.
install(FILES ${CMAKE_SOURCE_DIR}/resources/classroom/school-broker.conf ${CMAKE_SOURCE_DIR}/resources/classroom/school-acl
        DESTINATION ${ZORBINKA_SYSTEM_PREFIX}/share/doc/zorbinka/classroom)
install(FILES ${desktop}/lintian-overrides DESTINATION ${ZORBINKA_SYSTEM_PREFIX}/share/lintian/overrides
        RENAME zorbinka)

# The icon in the theme's sizes, drawn from the SVG.
find_package(Qt6 REQUIRED COMPONENTS Svg)
add_executable(zorbinka_icon ${desktop}/IconRender.cpp)
target_link_libraries(zorbinka_icon PRIVATE Qt6::Gui Qt6::Svg)
set(icons ${CMAKE_BINARY_DIR}/hicolor)
add_custom_command(OUTPUT ${icons}/48x48/apps/zorbinka.png
    COMMAND zorbinka_icon ${CMAKE_SOURCE_DIR}/resources/icons/zorbinka.svg ${icons}
    DEPENDS zorbinka_icon ${CMAKE_SOURCE_DIR}/resources/icons/zorbinka.svg)
# The Debian changelog, compressed as the policy asks.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
    COMMAND gzip -9nc ${desktop}/changelog > ${CMAKE_BINARY_DIR}/changelog.gz
    DEPENDS ${desktop}/changelog)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/zorbinka.1.gz
    COMMAND gzip -9nc ${desktop}/zorbinka.1 > ${CMAKE_BINARY_DIR}/zorbinka.1.gz
    DEPENDS ${desktop}/zorbinka.1)
add_custom_target(zorbinka_install_files ALL
    DEPENDS ${icons}/48x48/apps/zorbinka.png ${CMAKE_BINARY_DIR}/changelog.gz ${CMAKE_BINARY_DIR}/zorbinka.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/zorbinka.1.gz DESTINATION ${ZORBINKA_SYSTEM_PREFIX}/share/man/man1)
install(DIRECTORY ${icons}/ DESTINATION ${ZORBINKA_SYSTEM_PREFIX}/share/icons/hicolor FILES_MATCHING PATTERN "*.png")
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${ZORBINKA_SYSTEM_PREFIX}/share/doc/zorbinka)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zorbinka)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_CONTACT "Zorbinka developers <developers@zorbinka.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "school experiments with USB measuring sensors")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Зорбинка finds the sensor an experiment of its catalogue names (FTDI bridge,
virtual COM port or USB HID), draws the values live, keeps every run in a
table and on disk, and helps to write, export and print the report.
The user interface is Russian.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so no linked library tells of them.
# The metafile converters run as programs: without them a formula picture keeps a small placeholder.
# The teacher's computer runs the lesson's broker in class.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libhidapi-hidraw0, qt6-translations-l10n, qt6-wayland, libwmf-bin, emf2svg, mosquitto, avahi-utils")
file(WRITE ${CMAKE_BINARY_DIR}/conffiles "${ZORBINKA_CONF_DIR}/zorbinka.cfg\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${desktop}/postinst ${desktop}/postrm ${CMAKE_BINARY_DIR}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES TRUE)
include(CPack)
