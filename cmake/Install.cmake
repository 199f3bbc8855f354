# `cmake --install` and the Debian package.
#
# The executable and AddKey.html stay together in lib/tarvok (the program looks for the
# help page beside itself); bin/tarvok is a link to it. Installed so, the program folder
# is read-only for the user, and Tarvok keeps the user's files in their data folder
# ($XDG_DATA_HOME/tarvok, else ~/.local/share/tarvok), as scripts/run installs there.
if(NOT TARGET tarvok)
  return()
endif()
include(GNUInstallDirs)

set(TARVOK_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging/linux)
install(TARGETS tarvok RUNTIME DESTINATION lib/tarvok)
install(FILES ${PROJECT_SOURCE_DIR}/app/AddKey.html DESTINATION lib/tarvok)
file(CREATE_LINK ../lib/tarvok/tarvok ${CMAKE_CURRENT_BINARY_DIR}/tarvok-bin-link SYMBOLIC)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tarvok-bin-link DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME tarvok)
install(FILES ${TARVOK_PACKAGING_DIR}/tarvok.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TARVOK_PACKAGING_DIR}/tarvok.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${TARVOK_PACKAGING_DIR}/tarvok.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvok)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tarvok developers <tarvok@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop chat client for Google's Gemini models")
set(CPACK_PACKAGE_DESCRIPTION "Chats with Gemini models through the REST API or the Gemini CLI,\
 renders answers as Markdown, attaches files and generates pictures. Russian interface.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
# The libraries come from dpkg-shlibdeps; these are what the executable does not link
# but needs: the window-system plugins, the colour emoji of the message headers and the
# certificates for HTTPS.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, fonts-noto-color-emoji, ca-certificates")
set(CPACK_STRIP_FILES ON)
include(CPack)
