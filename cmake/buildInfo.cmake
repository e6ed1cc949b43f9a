# The commit the build is configured from; 40 zeros outside a git checkout.
set(KIRO_COMMIT_ID 0000000000000000000000000000000000000000)
find_package(Git QUIET)
if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse HEAD
        WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
        OUTPUT_VARIABLE gitCommit RESULT_VARIABLE gitResult
        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(gitResult EQUAL 0 AND gitCommit MATCHES "^[0-9a-f]+$")
        string(LENGTH "${gitCommit}" gitCommitLength)
        if(gitCommitLength EQUAL 40)
            set(KIRO_COMMIT_ID ${gitCommit})
        endif()
    endif()
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/kiroBuildInfo.h.in ${CMAKE_BINARY_DIR}/generated/kiroBuildInfo.h @ONLY)
