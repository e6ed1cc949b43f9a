# cmake -DTOOL=<nm or objdump> -DFORMAT=<elf|pe> -DLIBRARY=<file> -DEXPECTED=<file> -P checkExports.cmake
# Passes when the library's exported unmangled names starting with "kiro" are exactly the names
# listed in EXPECTED (one a line).
if(FORMAT STREQUAL "elf")
    execute_process(COMMAND ${TOOL} -D --defined-only ${LIBRARY}
        OUTPUT_VARIABLE listing RESULT_VARIABLE result)
    set(namePattern "^[0-9a-fA-F]+ [A-Za-z] (kiro[A-Za-z0-9_]*)$")
else()
    execute_process(COMMAND ${TOOL} -p ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE result)
    # Rows of the "[Ordinal/Name Pointer] Table": "[   3] name" (newer binutils add the ordinal
    # base and hint: "[   3] +base[   4]  0003 name").
    set(namePattern "^[ \t]*\\[ *[0-9]+\\].* (kiro[A-Za-z0-9_]*)$")
endif()
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${TOOL} failed on ${LIBRARY}")
endif()

string(REPLACE "\n" ";" lines "${listing}")
set(exported "")
foreach(line IN LISTS lines)
    if(line MATCHES "${namePattern}")
        list(APPEND exported ${CMAKE_MATCH_1})
    endif()
endforeach()
list(REMOVE_DUPLICATES exported)
file(STRINGS ${EXPECTED} expected)

set(missing ${expected})
list(REMOVE_ITEM missing ${exported})
set(extra ${exported})
list(REMOVE_ITEM extra ${expected})
list(LENGTH expected expectedCount)
message("exported C functions: ${exported}")
if(missing OR extra OR expectedCount EQUAL 0)
    message(FATAL_ERROR "missing: ${missing}\nnot part of the C interface: ${extra}")
endif()
