# The Debian package, made by `cpack -G DEB` in a build tree (`make package`
# builds a Release tree in build-pkg and runs it).
set(PICTOLUNE_PACKAGE_MAINTAINER
    "Pictolune maintainers <maintainers@users.noreply.c-seed-81422577.example>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_PACKAGE_NAME pictolune)
set(CPACK_PACKAGE_VENDOR "Pictolune")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${PICTOLUNE_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "fast picture viewer and slideshow")
set(CPACK_PACKAGE_DESCRIPTION
"Pictolune shows the pictures of one or more folders one at a time, in a
black window filling the screen. It reads JPEG, BMP, GIF, TIFF and WMF
files, steps through them with the keyboard or the mouse, plays them as a
slideshow at a chosen pace, or in random order. Large photos are decoded at
the size they are shown, and JPEG photos are turned upright.")
# The files go to /usr whatever prefix the build tree was configured with.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${PICTOLUNE_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# dpkg-shlibdeps names the libraries the program really links (Qt, libjpeg,
# libtiff, the C and C++ run-times) with the versions it needs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A window needs one of Qt's platform plug-ins, which dpkg-shlibdeps cannot
# see and Qt only recommends: X11's, or Wayland's. The fonts metafile text is
# drawn with: DejaVu for faces that are not installed (sans, serif and fixed
# pitch), the URW base fonts for Symbol and as stand-ins of like metrics for
# Arial, Times New Roman and Courier New, and Symbola's characters for the
# picture fonts (Wingdings, Webdings, MT Extra).
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins | qt6-wayland, fonts-dejavu-core, fonts-urw-base35, fonts-symbola")
# Qt loads it as a plug-in, so dpkg-shlibdeps cannot see it: the Wayland
# platform (without it Qt falls back to X11 through XWayland).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
