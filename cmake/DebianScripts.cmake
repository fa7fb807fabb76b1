# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# Run by CPack (CPACK_POST_BUILD_SCRIPTS) once the packages are made. CPack
# gives a package with a library in /usr/lib maintainer scripts that call
# ldconfig, which Debian does through the ldconfig trigger instead (see
# packaging/libkvsystem2-1/triggers); a postrm would also keep the package
# in state rc after `dpkg -r`. The library's package is made again without
# them by dpkg-deb, the tool that makes every Debian package.

find_program(dpkg_deb NAMES dpkg-deb REQUIRED)
foreach(deb ${CPACK_PACKAGE_FILES})
    get_filename_component(name ${deb} NAME)
    if(NOT name MATCHES "^${CPACK_KV_PACKAGE_runtime}_.*\\.deb$")
        continue()
    endif()
    set(tree ${CPACK_TOPLEVEL_DIRECTORY}/kv-repack)
    file(REMOVE_RECURSE ${tree})
    execute_process(COMMAND ${dpkg_deb} --raw-extract ${deb} ${tree} RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "dpkg-deb --raw-extract ${deb} failed")
    endif()
    foreach(script postinst postrm)
        if(EXISTS ${tree}/DEBIAN/${script})
            file(READ ${tree}/DEBIAN/${script} text)
            # Only CPack's own ldconfig call goes.
            string(REGEX REPLACE "[ \t\n]+" " " words "${text}")
            if(NOT words MATCHES "^#!/bin/sh set -e if \\[ \"\\$1\" = \"(configure|remove)\" \\]; then ldconfig fi ?$")
                message(FATAL_ERROR "${name}: ${script} does more than call ldconfig:\n${text}")
            endif()
            file(REMOVE ${tree}/DEBIAN/${script})
        endif()
    endforeach()
    execute_process(COMMAND ${dpkg_deb} --root-owner-group --build ${tree} ${deb}
        OUTPUT_QUIET RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "dpkg-deb --build ${tree} ${deb} failed")
    endif()
    file(REMOVE_RECURSE ${tree})
endforeach()
