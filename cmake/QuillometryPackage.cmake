# The Debian package, made by CPack from the install rules (scripts/package).
# Depends comes from the binaries' shared libraries (dpkg-shlibdeps) plus the
# pieces the program runs or shows without linking them:
# - fonts-noto-color-emoji: chat bubbles draw emoji as characters from it;
# - xdg-utils: files, folders and links open through xdg-open;
# - usbmuxd: reaching a connected iPhone needs the USB multiplexing daemon.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillometry)
set(CPACK_PACKAGE_VENDOR "Quillometry")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "move WhatsApp chat histories between iPhones and the computer")
set(CPACK_PACKAGE_DESCRIPTION
"Quillometry Chat Transfer reads WhatsApp's chat database from an iPhone over
USB or from an iTunes or Finder backup folder, encrypted ones included, shows
the chats with chat bubbles, backs them up into local databases and merges
them without duplicates. The command quillometry-cli runs the same jobs from
a terminal.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QUILLOMETRY_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-color-emoji, xdg-utils, usbmuxd")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "")
# Only the program's own files: tools, tests and benchmarks install nothing.
set(CPACK_DEB_COMPONENT_INSTALL OFF)
set(CPACK_SOURCE_IGNORE_FILES "/build/;/\\\\.git/")
include(CPack)
