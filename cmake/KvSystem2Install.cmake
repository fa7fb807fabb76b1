# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# How libkvsystem2 is seen from outside: only the classes marked
# KVSYSTEM2_EXPORT are exported, and `cmake --install` lays down the library,
# its headers, a CMake package (find_package(KvSystem2) gives
# KvSystem2::kvsystem2) and a pkg-config file (kvsystem2.pc). Both describe
# the installed tree relative to their own place in it, so the tree can be
# moved.

include(CMakePackageConfigHelpers)

set(kvsystem2_include ${PROJECT_SOURCE_DIR}/kvsystem/include)

# Hidden by default; the backend is linked into the library, so it is hidden
# the same way.
set_target_properties(kvsystem2 kvsystem2_backend PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
)
target_compile_definitions(kvsystem2 PRIVATE KVSYSTEM2_LIBRARY)
target_sources(kvsystem2 PRIVATE ${kvsystem2_include}/kvsystem2_export.h)
# The headers are named relative to the library's directory; installed
# from here they need their full paths.
get_target_property(kvsystem2_headers kvsystem2 PUBLIC_HEADER)
get_target_property(kvsystem2_source_dir kvsystem2 SOURCE_DIR)
list(TRANSFORM kvsystem2_headers PREPEND ${kvsystem2_source_dir}/ REGEX "^[^/]")
set_property(TARGET kvsystem2 PROPERTY PUBLIC_HEADER
    ${kvsystem2_headers} ${kvsystem2_include}/kvsystem2_export.h)
set_property(TARGET kvsystem2 PROPERTY EXPORT_NAME kvsystem2)

# Installed, the library names the Qt it was built on (Qt6::Core), which
# find_dependency() provides even where Qt's versionless names are off.
get_target_property(kvsystem2_interface kvsystem2 INTERFACE_LINK_LIBRARIES)
list(TRANSFORM kvsystem2_interface REPLACE "^Qt::(.+)$"
    "$<BUILD_INTERFACE:Qt::\\1>;$<INSTALL_INTERFACE:Qt${QT_MAJOR_VERSION}::\\1>")
set_property(TARGET kvsystem2 PROPERTY INTERFACE_LINK_LIBRARIES ${kvsystem2_interface})

set(KVSYSTEM2_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/KvSystem2)
set(KVSYSTEM2_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS kvsystem2 EXPORT KvSystem2Targets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        COMPONENT runtime
        NAMELINK_COMPONENT dev
    PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kvsystem2
        COMPONENT dev
)
install(EXPORT KvSystem2Targets
    NAMESPACE KvSystem2::
    DESTINATION ${KVSYSTEM2_CMAKE_DIR}
    COMPONENT dev
)

# The Qt the library was built on is the one a program must use: the package
# finds it for the caller, and refuses a caller that already uses the other.
set(KVSYSTEM2_QT_MAJOR ${QT_MAJOR_VERSION})
set(KVSYSTEM2_QT_MIN ${qt_min_version_${QT_MAJOR_VERSION}})
configure_package_config_file(
    ${CMAKE_CURRENT_LIST_DIR}/KvSystem2Config.cmake.in
    ${PROJECT_BINARY_DIR}/KvSystem2Config.cmake
    INSTALL_DESTINATION ${KVSYSTEM2_CMAKE_DIR}
)
write_basic_package_version_file(
    ${PROJECT_BINARY_DIR}/KvSystem2ConfigVersion.cmake
    VERSION ${PROJECT_VERSION}
    COMPATIBILITY SameMajorVersion
)
install(FILES
    ${PROJECT_BINARY_DIR}/KvSystem2Config.cmake
    ${PROJECT_BINARY_DIR}/KvSystem2ConfigVersion.cmake
    DESTINATION ${KVSYSTEM2_CMAKE_DIR}
    COMPONENT dev
)

# pkg-config: the prefix is found from the file's own directory. -fPIC
# because Qt's headers refuse code built without it.
file(RELATIVE_PATH KVSYSTEM2_PC_TO_PREFIX
    /prefix/${KVSYSTEM2_PKGCONFIG_DIR} /prefix)
string(REGEX REPLACE "/$" "" KVSYSTEM2_PC_TO_PREFIX "${KVSYSTEM2_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/kvsystem2.pc.in
    ${PROJECT_BINARY_DIR}/kvsystem2.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kvsystem2.pc
    DESTINATION ${KVSYSTEM2_PKGCONFIG_DIR}
    COMPONENT dev
)
