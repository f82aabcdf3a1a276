# The Debian package q274tc_<version>_<arch>.deb (scripts/package.sh).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME q274tc)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Q274TC developers")
set(CPACK_PACKAGE_CONTACT "Q274TC developers <dev@q274tc.example.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://q274tc.example.org")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop front end of the Q274 temperature controller board")
# Lines kept within 80 columns, as Debian's tools expect.
set(CPACK_PACKAGE_DESCRIPTION [[
Q274TCstd talks to the Q274 temperature controller board over a serial
line. It identifies the board, shows its four temperature channels in
Celsius or Fahrenheit, runs one thermostat per channel that switches the
board's relays for heating or cooling, lets the user switch the relays by
hand, and keeps a timestamped event and data log that it saves to text
files.

The package also contains q274-board-sim, a board simulator on a
pseudo-terminal, and the user manual as a PDF file.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies come from the binaries (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Help hands the manual to the desktop through xdg-open and a PDF viewer;
# both are usual on a desktop, and the program says what is missing.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "pdf-viewer")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
