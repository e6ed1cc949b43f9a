add_library(kiro_warnings INTERFACE)
target_compile_options(kiro_warnings INTERFACE -Wall -Wextra $<$<BOOL:${KIRO_WERROR}>:-Werror>)

# __FILE__ relative to the repository root: thrown exceptions name "dir/unit" source paths.
add_compile_options(-fmacro-prefix-map=${CMAKE_SOURCE_DIR}/=)

if(KIRO_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()
