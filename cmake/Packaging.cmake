# Installing TervoloNG into a prefix, its Debian package, and the tests of both.
# Included at the end of the root CMakeLists.txt, after every folder, so that
# the plug-in target is seen when it exists.
#
# The installed layout is the one platform::Bundle looks for beside the
# executable, so a prefix runs wherever it is moved:
#   bin/TervoloNG                               the program
#   lib/TervoloNG/PlugIns/                      its plug-ins
#   share/TervoloNG/                            its resources (Info.json, basemap/, icons/ ...)
#   share/applications/, share/metainfo/,
#   share/icons/hicolor/                        the desktop entry, metainfo and icon
#   share/man/man1/TervoloNG.1.gz               the manual page
#   share/doc/tervolong/                        README, copyright, changelog

if(NOT TARGET TervoloNG)
  return()
endif()

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(tervolo_doc_dir share/doc/${TERVOLO_PACKAGE_NAME})
# The package's prefix; the desktop entry's rule below needs it.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

install(TARGETS TervoloNG RUNTIME DESTINATION bin)
if(TARGET TervoloAppKitBridge)
  install(TARGETS TervoloAppKitBridge LIBRARY DESTINATION lib/TervoloNG/PlugIns)
endif()

install(FILES ${TERVOLO_RESOURCES_DIR}/Info.json DESTINATION share/TervoloNG)
foreach(resource ${TERVOLO_RESOURCE_FILES})
  get_filename_component(folder ${resource} DIRECTORY)
  install(FILES ${TERVOLO_RESOURCES_DIR}/${resource} DESTINATION share/TervoloNG/${folder})
endforeach()

install(FILES ${TERVOLO_DESKTOP_DIR}/${TERVOLO_APP_ID}.desktop DESTINATION share/applications)
# The installed entry names the installed program by its absolute path: the
# desktop finds the program of a prefix whose bin/ is not on its PATH
# (/opt/tervolo, ~/.local before the next login), and a link handler starts
# this program, not another on the PATH. Written at install time, since the
# prefix is chosen then; the package's entry names /usr/bin/TervoloNG (CPack
# installs into a staging folder standing for its prefix).
install(CODE "set(TERVOLO_DESKTOP_ENTRY \"share/applications/${TERVOLO_APP_ID}.desktop\")
set(TERVOLO_PACKAGE_PREFIX \"${CPACK_PACKAGING_INSTALL_PREFIX}\")")
install(SCRIPT cmake/InstallDesktopEntry.cmake)
install(FILES ${TERVOLO_DESKTOP_DIR}/${TERVOLO_APP_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES ${TERVOLO_ICON_SVG} DESTINATION share/icons/hicolor/scalable/apps)
install(DIRECTORY ${TERVOLO_ICON_DIR}/ DESTINATION share/icons/hicolor FILES_MATCHING PATTERN "*.png")
install(FILES ${TERVOLO_DESKTOP_DIR}/TervoloNG.1.gz DESTINATION share/man/man1)
install(FILES README.md resources/desktop/copyright ${TERVOLO_DESKTOP_DIR}/changelog.gz DESTINATION ${tervolo_doc_dir})

# Everything the rules above install, so one target builds what an install
# needs. The test suite builds it too: the install test below runs in every
# configuration that runs the tests.
add_custom_target(tervolo_installable DEPENDS TervoloNG tervolo_icons tervolo_package_documents)
if(TARGET TervoloAppKitBridge)
  add_dependencies(tervolo_installable TervoloAppKitBridge)
endif()
set_property(GLOBAL APPEND PROPERTY TERVOLO_TEST_TARGETS tervolo_installable)

# ---- The Debian package: `make package` (cpack -G DEB in the build folder).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${TERVOLO_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The TervoloNG authors")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TERVOLO_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://${TERVOLO_WEB_HOST}/")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "personal map points on an offline world map
TervoloNG keeps a personal collection of map points: each has a title, a
subtitle, a coordinate, tags and an alarm circle, and is stored as one JSON
file. The world map is drawn by the program from public-domain Natural Earth
data, so it works offline; raster tile maps from a configured tile server can
be shown over it. Coordinates are shown in decimal degrees,
degrees-minutes-seconds, UTM and MGRS.
.
Links of the form tervolo://point/<identifier> open a stored point in the
running program.")
# dpkg-shlibdeps finds the libraries the program and its plug-in link (the
# SVG library among them, whose package also holds the SVG icon engine of the
# window icon); Qt's run-time plug-ins are loaded by name and need naming
# here: the position plug-ins (the desktop's position service). Wayland and the position service itself make the program
# better, not possible.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6positioning6-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, geoclue-2.0")
# No maintainer scripts: Debian's file triggers (desktop-file-utils,
# hicolor-icon-theme, appstream) refresh the desktop database, the icon cache
# and the software catalogue when files land in their folders.
include(CPack)

# ---- Tests of the desktop files and of an installed, moved prefix.
find_program(TERVOLO_DESKTOP_FILE_VALIDATE desktop-file-validate)
find_program(TERVOLO_APPSTREAMCLI appstreamcli)
if(NOT TERVOLO_DESKTOP_FILE_VALIDATE)
  set(TERVOLO_DESKTOP_FILE_VALIDATE desktop-file-validate)
endif()
if(NOT TERVOLO_APPSTREAMCLI)
  set(TERVOLO_APPSTREAMCLI appstreamcli)
endif()
# The validators print nothing for a clean file besides their success line;
# any warning, hint or error fails the test.
add_test(NAME package.desktop_entry_validates
         COMMAND ${TERVOLO_DESKTOP_FILE_VALIDATE} ${TERVOLO_DESKTOP_DIR}/${TERVOLO_APP_ID}.desktop)
add_test(NAME package.metainfo_validates
         COMMAND ${TERVOLO_APPSTREAMCLI} validate --no-net --explain
                 ${TERVOLO_DESKTOP_DIR}/${TERVOLO_APP_ID}.metainfo.xml)
set_tests_properties(package.desktop_entry_validates PROPERTIES FAIL_REGULAR_EXPRESSION "." LABELS package)
set_tests_properties(package.metainfo_validates PROPERTIES
  FAIL_REGULAR_EXPRESSION "(^|\n)[EWI]: " LABELS package)

set(tervolo_plugin_file "")
if(TARGET TervoloAppKitBridge)
  set(tervolo_plugin_file $<TARGET_FILE_NAME:TervoloAppKitBridge>)
endif()
add_test(NAME package.moved_prefix_runs
         COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/test-moved-prefix ${CMAKE_BINARY_DIR} ${PROJECT_VERSION}
                 "${tervolo_plugin_file}")
set_tests_properties(package.moved_prefix_runs PROPERTIES LABELS package TIMEOUT 240)
