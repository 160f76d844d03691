# The Debian package: cmake --workflow --preset package
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME processus-en-direct)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ten small programs that show how processes behave")
set(CPACK_PACKAGE_DESCRIPTION
  "For operating-systems classes: what fork returns, a zombie child left unreaped,
a program replaced by execvp under the same pid, random walkers seeded by their
pid, a register-bound loop, a cache-line query, a timing report. Messages are in
French; each program has a manual page.")
set(CPACK_PACKAGE_CONTACT "Processus en direct <equipe@processus-en-direct.invalid>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Dependencies from the libraries the programs really link (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/paquet)
include(CPack)
