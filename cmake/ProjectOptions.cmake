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
