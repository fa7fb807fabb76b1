# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# Debian packages from this build: `cpack -G DEB` in the build tree.
#
# CPack rather than a debian/ directory: the packages come from the same
# install rules as `cmake --install`, so the two cannot drift apart, and no
# second build (dh, debhelper) runs. dpkg-shlibdeps still computes the
# dependencies from the binaries, and the debug symbols go to -dbgsym
# packages.
#
#   libkvsystem2-1     the library (runtime component)
#   libkvsystem2-dev   headers, the .so link, CMake and pkg-config files (dev)
#   kvsystem2-demos    the seventeen programs, the Linux backend's logind
#                      module, manual pages and shell completion (programs)
# and a -dbgsym package for each with binaries.

set(KV_PACKAGE_MAINTAINER "kvsystem2 developers <kvsystem2@example.org>"
    CACHE STRING "Maintainer field of the Debian packages")

set(deb_runtime libkvsystem2-1)
set(deb_dev libkvsystem2-dev)
set(deb_programs kvsystem2-demos)

# Each package carries its copyright file and changelog, as Debian wants;
# cmake/DebianFiles.cmake puts them into the packages only.
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in
    ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
set(deb_changelog ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_command(OUTPUT ${deb_changelog}
    COMMAND gzip -9n -c ${PROJECT_BINARY_DIR}/packaging/changelog > ${deb_changelog}
    DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog
    VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${deb_changelog})
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebianFiles.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebianScripts.cmake)
set(CPACK_KV_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_KV_CHANGELOG ${deb_changelog})
foreach(component runtime dev programs)
    set(CPACK_KV_PACKAGE_${component} ${deb_${component}})
endforeach()

# What a developer reads beside the headers: the README, the docs and the
# example program.
install(FILES ${PROJECT_SOURCE_DIR}/README.md
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${deb_dev}
    COMPONENT dev)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${deb_dev}/docs
    COMPONENT dev
    PATTERN man EXCLUDE)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${deb_dev}/examples
    COMPONENT dev)

# Prometheus' recording and alerting rules for charge-exporter's gauges,
# where Debian keeps a package's examples (docs/lab.md says how to load them).
install(FILES ${PROJECT_SOURCE_DIR}/packaging/prometheus/kvsystem2-rules.yml
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${deb_programs}/examples
    COMPONENT programs)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kvsystem2-demos)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${KV_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev programs)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps finds libkvsystem2.so.1 in the build tree; the programs'
# dependency on its package comes from the component dependencies below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
# CPackDeb strips the binaries itself once it has split their debug
# information out into the -dbgsym packages.
set(CPACK_STRIP_FILES OFF)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${deb_runtime})
# One copy a machine architecture can be installed side by side (the library
# lives in the multiarch directory). CPack of Debian 12 writes no Multi-Arch
# field of its own, so the field rides on the line of the one before it.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION "libs\nMulti-Arch: same")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The ldconfig trigger instead of maintainer scripts that call ldconfig:
# with no scripts at all, installing into another root (dpkg --root) runs
# nothing on the machine, and `dpkg -r` removes the package whole (a postrm
# would keep it in state rc until a purge). cmake/DebianScripts.cmake takes
# out the scripts that CPack adds of its own.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/libkvsystem2-1/triggers)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "handset device-services library
libkvsystem2 gives programs the handset's sensors (ambient light,
proximity, taps, orientation, rotation, magnetometer, compass,
accelerometer), its display, system, activity, thermal and device-mode
state and its battery as Qt ${QT_MAJOR_VERSION} classes. It answers from a
simulated handset, from a scenario file, or from the machine's own sysfs.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${deb_dev})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
if(QT_MAJOR_VERSION EQUAL 6)
    set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "qt6-base-dev (>= ${qt_min_version_6})")
else()
    set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "qtbase5-dev (>= ${qt_min_version_5})")
endif()
set(CPACK_DEBIAN_DEV_DESCRIPTION "handset device-services library - development files
The headers of the Vorna::Kv classes, the libkvsystem2.so link, the CMake
package (find_package(KvSystem2), target KvSystem2::kvsystem2) and the
pkg-config file kvsystem2.pc.")

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME ${deb_programs})
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_PROGRAMS_DEPENDS runtime)
set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION "handset demos, battery recorder and tools
Twenty console programs. Thirteen show what the handset's sensors and
system state deliver: lux-demo, near-demo, knock-demo, posture-demo,
tilt-demo, flux-demo, heading-demo, motion-demo, screen-demo,
powerstate-demo, idle-demo, heat-demo and opmode-demo. charge-recorder
writes the battery's values as CSV at a fixed interval, charge-plot
draws its logs, and charge-exporter hands them to Prometheus.
kvsystem2-probe lists what the library's Linux backend finds on a machine,
and kvsystem2-snapshot copies it into a tree to replay. kvsystem2-handset
holds one virtual handset on the session bus that programs join, and
kvsystem2-ctl changes it while they run.
Includes the module through which the Linux backend asks the login manager
for the idle hint, and the one through which programs join the shared
handset.")

include(CPack)
