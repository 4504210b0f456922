# cmake --install: the program in bin/, the host's libraries in lib/ (or
# lib/<multiarch> under /usr), the package the program loads in its own folder
# lib/.../qelclient/, the menu entry, its icon and the README. Every run path
# is relative, so the tree works wherever it is unpacked.
# cpack -G DEB (in the build folder) makes qel-project_<version>_<arch>.deb.

set(QEL_DEB_NAME qel-project)
# Installing copies what is built; it does not build the tests first
# (scripts/package-check.sh builds the program and the package itself).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
file(RELATIVE_PATH QEL_BIN_TO_LIB ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})

# Where the installed program finds the package, from its own folder.
file(RELATIVE_PATH QEL_BIN_TO_PACKAGE ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR}/qelclient)
target_compile_definitions(qelclient PRIVATE QEL_PACKAGE_DIR="${QEL_BIN_TO_PACKAGE}")

set_target_properties(qelcore qelhost PROPERTIES
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
  INSTALL_RPATH "$ORIGIN")
set_target_properties(QELUIProject PROPERTIES INSTALL_RPATH "$ORIGIN/..")
set_target_properties(qelclient PROPERTIES INSTALL_RPATH "$ORIGIN/${QEL_BIN_TO_LIB}")

install(TARGETS qelclient RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The libraries are private to the program: no headers and no link names.
install(TARGETS qelcore qelhost LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_SKIP)
install(TARGETS QELUIProject LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/qelclient)
install(FILES dist/qelclient.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES dist/qelclient.svg DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
set(QEL_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${QEL_DEB_NAME})
install(FILES README.md DESTINATION ${QEL_DOC_DIR})
install(DIRECTORY docs/screenshots DESTINATION ${QEL_DOC_DIR}/docs FILES_MATCHING PATTERN "*.png")

set(CPACK_PACKAGE_NAME ${QEL_DEB_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "QEL")
set(CPACK_PACKAGE_CONTACT "QEL <qel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "演出项目限购 — box office back-office client, project module")
set(CPACK_PACKAGE_DESCRIPTION "qelclient and the QELUIProject package: performance projects, their discount rules and purchase limits, on SQLite or PostgreSQL.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Found by dpkg-shlibdeps from the libraries the program links; the forms'
# font and Qt's own Chinese messages are read at run time, so named here.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-arphic-uming, qt6-translations-l10n")
include(CPack)
