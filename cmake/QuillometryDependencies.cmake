# Finds every outside library. A missing one stops configure with the name
# of the Debian package that provides it (scripts/setup installs them all).
find_package(PkgConfig QUIET)
if(NOT PkgConfig_FOUND)
  message(FATAL_ERROR "pkg-config is missing: install the Debian package pkg-config (or run scripts/setup)")
endif()

macro(q_find_package name debian)
  find_package(${name} ${ARGN} QUIET)
  if(NOT ${name}_FOUND)
    message(FATAL_ERROR "${name} was not found: install the Debian package ${debian} (or run scripts/setup)")
  endif()
endmacro()

macro(q_pkg_check prefix module debian)
  pkg_check_modules(${prefix} QUIET IMPORTED_TARGET ${module})
  if(NOT ${prefix}_FOUND)
    message(FATAL_ERROR "${module} was not found: install the Debian package ${debian} (or run scripts/setup)")
  endif()
endmacro()

set(_qt_packages
  "Core:qt6-base-dev" "Gui:qt6-base-dev" "Widgets:qt6-base-dev" "Network:qt6-base-dev"
  "PrintSupport:qt6-base-dev" "DBus:qt6-base-dev" "Test:qt6-base-dev" "Svg:qt6-svg-dev"
  "WebEngineWidgets:qt6-webengine-dev" "LinguistTools:qt6-tools-dev")
foreach(entry ${_qt_packages})
  string(REPLACE ":" ";" parts "${entry}")
  list(GET parts 0 comp)
  list(GET parts 1 deb)
  find_package(Qt6 QUIET COMPONENTS ${comp})
  if(NOT Qt6${comp}_FOUND)
    message(FATAL_ERROR "Qt 6 ${comp} was not found: install the Debian package ${deb} (or run scripts/setup)")
  endif()
endforeach()

q_find_package(SQLite3 libsqlite3-dev)
q_find_package(OpenSSL libssl-dev)
q_find_package(Threads libc6-dev)
q_find_package(GTest libgtest-dev)
q_find_package(Protobuf "libprotobuf-dev and protobuf-compiler")
q_find_package(CURL libcurl4-openssl-dev)
q_find_package(ICU libicu-dev COMPONENTS uc i18n data)
q_pkg_check(IMOBILEDEVICE libimobiledevice-1.0 libimobiledevice-dev)
q_pkg_check(PLIST libplist-2.0 libplist-dev)
q_pkg_check(USBMUXD libusbmuxd-2.0 libusbmuxd-dev)
q_pkg_check(JSONCPP jsoncpp libjsoncpp-dev)
include(GoogleTest)
