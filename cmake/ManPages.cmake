# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# Manual pages (plain roff in docs/man) and shell completion, installed with
# the programs. Pages are installed compressed, as Debian wants them; every
# demo's name is a link to the demos' page.

set(man_sources
    ${PROJECT_SOURCE_DIR}/docs/man/charge-exporter.1
    ${PROJECT_SOURCE_DIR}/docs/man/charge-plot.1
    ${PROJECT_SOURCE_DIR}/docs/man/charge-recorder.1
    ${PROJECT_SOURCE_DIR}/docs/man/kvsystem2-ctl.1
    ${PROJECT_SOURCE_DIR}/docs/man/kvsystem2-demos.1
    ${PROJECT_SOURCE_DIR}/docs/man/kvsystem2-handset.1
    ${PROJECT_SOURCE_DIR}/docs/man/kvsystem2-probe.1
    ${PROJECT_SOURCE_DIR}/docs/man/kvsystem2-snapshot.1
    ${PROJECT_SOURCE_DIR}/docs/man/kvsystem2.7
)
set(demo_programs lux-demo near-demo knock-demo posture-demo tilt-demo flux-demo
    heading-demo motion-demo screen-demo powerstate-demo idle-demo heat-demo opmode-demo)

set(man_outputs)
foreach(page ${man_sources})
    get_filename_component(name ${page} NAME)
    string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${name})
    set(out ${PROJECT_BINARY_DIR}/man/man${section}/${name}.gz)
    add_custom_command(OUTPUT ${out}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man/man${section}
        COMMAND gzip -9n -c ${page} > ${out}
        DEPENDS ${page}
        COMMENT "Compressing the manual page ${name}"
        VERBATIM)
    list(APPEND man_outputs ${out})
    install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT programs)
endforeach()
add_custom_target(manpages ALL DEPENDS ${man_outputs})

file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/man/links)
foreach(program ${demo_programs})
    file(CREATE_LINK kvsystem2-demos.1.gz ${PROJECT_BINARY_DIR}/man/links/${program}.1.gz SYMBOLIC)
    install(FILES ${PROJECT_BINARY_DIR}/man/links/${program}.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
endforeach()

# bash-completion loads completions/<command> on demand; zsh's Debian
# packages keep theirs in vendor-completions.
install(FILES ${PROJECT_SOURCE_DIR}/completion/charge-recorder.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    RENAME charge-recorder
    COMPONENT programs)
install(FILES ${PROJECT_SOURCE_DIR}/completion/_charge-recorder
    DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions
    COMPONENT programs)
foreach(tool charge-plot charge-exporter kvsystem2-probe kvsystem2-snapshot kvsystem2-handset
        kvsystem2-ctl)
    install(FILES ${PROJECT_SOURCE_DIR}/completion/${tool}.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME ${tool}
        COMPONENT programs)
    install(FILES ${PROJECT_SOURCE_DIR}/completion/_${tool}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions
        COMPONENT programs)
endforeach()
