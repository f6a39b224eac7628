# The Debian package (`make package`, or `cpack` in the build directory):
# tolvane_<version>_<arch>.deb with what Install.cmake installs, below /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_PACKAGE_NAME tolvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Varnholt)
set(CPACK_PACKAGE_CONTACT "Varnholt <tolvane@varnholt.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# RelWithDebInfo binaries are several times their stripped size; the package carries no
# debugging information.
set(CPACK_STRIP_FILES TRUE)

set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keyboard wedge for serial scales, gauges and barcode readers")
set(CPACK_PACKAGE_DESCRIPTION [=[
Tolvane listens on one serial port to a weighing scale or balance (A&D, Adam,
Kern, Mettler Toledo, Ohaus, Precisa, Sartorius and others), a measuring gauge,
a barcode reader or an identity terminal, pulls the value out of each line with
the instrument's pattern, transforms it with exact decimal arithmetic (rounding,
decimal places, separators, character editing, suppression of repeated values)
and types it into the window that has the keyboard focus.

Typing uses the X server's XTEST extension and needs an X11 session or XWayland.
The package also holds tolvane-sim, an instrument simulator on a pseudo-terminal,
and tolvane-reader, which prints the lines a serial port receives.]=])

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.varnholt.example/tolvane/")
# Debian bookworm's names: the shared libraries the programs link (`readelf -d`; the minimum
# versions are those dpkg-shlibdeps finds for their symbols, Qt's raised to the 6.4 the build
# asks for, since all Qt parts must be of one version; the xcb platform plugin comes with
# libqt6gui6, the Wayland one with qt6-wayland), and the soundfont the sound plays with, gensio for network instruments (GMP's
# C++ part is headers only here).
set(TOLVANE_DEB_DEPENDS
  "libc6 (>= 2.34)"
  "libstdc++6 (>= 12)"
  "libgcc-s1 (>= 3.0)"
  "libqt6core6 (>= 6.4.0)"
  "libqt6gui6 (>= 6.4.0)"
  "libqt6widgets6 (>= 6.4.0)"
  "libqt6network6 (>= 6.4.0)"
  "libqt6dbus6 (>= 6.4.0)"
  "libx11-6"
  "libxtst6"
  "qt6-wayland (>= 6.4.0)"
  "libwayland-client0 (>= 1.20.0)"
  "libfluidsynth3 (>= 2.1.0)"
  "timgm6mb-soundfont"
  "libgmp10 (>= 2:6.2.1+dfsg1)"
  "libgensio4 (>= 2.6.2)")
list(JOIN TOLVANE_DEB_DEPENDS ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)

include(CPack)
