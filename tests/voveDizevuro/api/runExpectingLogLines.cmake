# cmake -DPROGRAM=<file> [-DEMULATOR=<runner>] -DEXPECTED=<file> -P runExpectingLogLines.cmake
# Runs the program and passes when it exits with 0 and its output has a match for every regular
# expression in EXPECTED (one a line; lines starting with # are comments).
execute_process(COMMAND ${EMULATOR} ${PROGRAM}
    OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE result)
message("${output}")
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} exited with ${result}")
endif()
file(STRINGS ${EXPECTED} patterns REGEX "^[^#]")
foreach(pattern IN LISTS patterns)
    if(NOT output MATCHES "${pattern}")
        message(FATAL_ERROR "no output line matches: ${pattern}")
    endif()
endforeach()
