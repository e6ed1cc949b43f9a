add_library(kiro_warnings INTERFACE)
target_compile_options(kiro_warnings INTERFACE -Wall -Wextra $<$<BOOL:${KIRO_WERROR}>:-Werror>)

# __FILE__ relative to the repository root: thrown exceptions name "dir/unit" source paths.
add_compile_options(-fmacro-prefix-map=${CMAKE_SOURCE_DIR}/=)

if(KIRO_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

# ThreadSanitizer for the threaded tests (preset linux-tsan). It cannot share a process with
# AddressSanitizer, so it replaces KIRO_SANITIZE rather than adding to it.
option(KIRO_SANITIZE_THREAD "Build with ThreadSanitizer (instead of KIRO_SANITIZE)" OFF)
if(KIRO_SANITIZE_THREAD)
    if(KIRO_SANITIZE)
        message(FATAL_ERROR "KIRO_SANITIZE_THREAD and KIRO_SANITIZE exclude each other")
    endif()
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()

# A compiler cache when one is installed: rebuilds of unchanged sources come from the cache.
find_program(KIRO_CCACHE ccache)
if(KIRO_CCACHE)
    set(CMAKE_C_COMPILER_LAUNCHER ${KIRO_CCACHE})
    set(CMAKE_CXX_COMPILER_LAUNCHER ${KIRO_CCACHE})
endif()

# GNU ld needs a minute and more for each Windows program that links the library's objects; lld
# well under a second. MinGW's GCC always runs the ld it was configured with (-fuse-ld does not
# change it), so a specs file names lld as the linker.
if(MINGW)
    find_program(KIRO_LLD ld.lld)
    if(KIRO_LLD)
        file(WRITE ${CMAKE_BINARY_DIR}/lld.specs "*linker:\n${KIRO_LLD}\n\n")
        add_link_options(-specs=${CMAKE_BINARY_DIR}/lld.specs -fno-use-linker-plugin)
    endif()
endif()
