# SPDX-FileCopyrightText: The KvSystem2 authors
# SPDX-License-Identifier: MIT

# Compiler settings shared by every target of the project, attached as an
# interface target so that nothing is set directory-wide.
add_library(project_options INTERFACE)
target_compile_options(project_options INTERFACE -Wall -Wextra)
# Warn about Qt API that is on its way out, so that the code stays ready for
# the next Qt.
target_compile_definitions(project_options INTERFACE QT_DEPRECATED_WARNINGS)

# Sanitizer builds, one at a time: scripts/sanitize runs the whole suite
# under each. They apply to everything of ours, the library included.
option(KV_SANITIZE_ADDRESS "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(KV_SANITIZE_THREAD "Build with ThreadSanitizer" OFF)
# Fuzzing (clang only) adds coverage feedback to the address sanitizer build.
option(KV_FUZZ "Build the libFuzzer targets under fuzz/ (clang)" OFF)
if(KV_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "KV_FUZZ needs clang: configure with CXX=clang++")
    endif()
    set(KV_SANITIZE_ADDRESS ON)
    target_compile_options(project_options INTERFACE -fsanitize=fuzzer-no-link)
endif()
if(KV_SANITIZE_ADDRESS AND KV_SANITIZE_THREAD)
    message(FATAL_ERROR "AddressSanitizer and ThreadSanitizer cannot be combined; pick one")
endif()
if(KV_SANITIZE_ADDRESS)
    set(sanitizer_flags -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
elseif(KV_SANITIZE_THREAD)
    set(sanitizer_flags -fsanitize=thread -fno-omit-frame-pointer)
endif()
if(sanitizer_flags)
    target_compile_options(project_options INTERFACE ${sanitizer_flags})
    target_link_options(project_options INTERFACE ${sanitizer_flags})
endif()

# Hardening as Debian builds its packages: the flags of dpkg-buildflags with
# every hardening feature (fortified libc functions, stack protector, format
# checks, relocations read-only and bound at start). Optimisation and debug
# information stay the build type's, and glibc's fortified functions, which
# need optimisation, are left out of Debug builds. The sanitizers bring
# checks of their own.
option(KV_HARDENING "Compile and link with dpkg-buildflags' hardening flags" ON)
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
mark_as_advanced(DPKG_BUILDFLAGS)
if(KV_HARDENING AND DPKG_BUILDFLAGS AND NOT sanitizer_flags)
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
        execute_process(
            COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                ${DPKG_BUILDFLAGS} --get ${kind}
            OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
        separate_arguments(flags UNIX_COMMAND "${flags}")
        list(FILTER flags EXCLUDE REGEX "^-(g.*|O.*|f(file|debug|macro)-prefix-map=.*)$")
        set(hardening_${kind} ${flags})
    endforeach()
    set(fortify ${hardening_CPPFLAGS})
    list(FILTER fortify INCLUDE REGEX "_FORTIFY_SOURCE")
    list(FILTER hardening_CPPFLAGS EXCLUDE REGEX "_FORTIFY_SOURCE")
    target_compile_options(project_options INTERFACE ${hardening_CPPFLAGS} ${hardening_CXXFLAGS}
        "$<$<NOT:$<CONFIG:Debug>>:${fortify}>")
    target_link_options(project_options INTERFACE ${hardening_LDFLAGS})
endif()
