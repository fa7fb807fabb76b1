# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# Run by CPack (CPACK_PRE_BUILD_SCRIPTS) between installing each component
# into its staging directory and making the Debian packages: what only the
# packages carry (copyright, changelog, the lintian override), so that a
# plain `cmake --install` lays down none of it, and what dh_strip does that
# CPack does not: the .comment section (the compiler's name and version)
# leaves every binary.

find_program(objcopy NAMES objcopy REQUIRED)
foreach(component runtime dev programs)
    set(root ${CPACK_TEMPORARY_DIRECTORY}/${component})
    if(NOT IS_DIRECTORY ${root})
        continue()
    endif()
    set(usr ${root}${CPACK_PACKAGING_INSTALL_PREFIX})
    set(package ${CPACK_KV_PACKAGE_${component}})
    # file(COPY), not file(INSTALL): CPack's DESTDIR would be put in front.
    file(COPY ${CPACK_KV_SOURCE_DIR}/packaging/copyright ${CPACK_KV_CHANGELOG}
        DESTINATION ${usr}/share/doc/${package}
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    if(EXISTS ${CPACK_KV_SOURCE_DIR}/packaging/${package}/lintian-overrides)
        file(MAKE_DIRECTORY ${usr}/share/lintian/overrides)
        configure_file(${CPACK_KV_SOURCE_DIR}/packaging/${package}/lintian-overrides
            ${usr}/share/lintian/overrides/${package} COPYONLY)
        file(CHMOD ${usr}/share/lintian/overrides/${package}
            PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endif()
    file(GLOB_RECURSE files LIST_DIRECTORIES false ${root}/*)
    foreach(file ${files})
        if(IS_SYMLINK ${file})
            continue()
        endif()
        file(READ ${file} magic LIMIT 4 HEX)
        if(magic STREQUAL "7f454c46")
            execute_process(COMMAND ${objcopy} --remove-section=.comment ${file}
                RESULT_VARIABLE failed)
            if(failed)
                message(FATAL_ERROR "objcopy --remove-section=.comment ${file} failed")
            endif()
        endif()
    endforeach()
endforeach()
