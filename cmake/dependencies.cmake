# Third-party headers and libraries, all from Debian's packages.
add_library(kiro_dependencies INTERFACE)

if(CMAKE_CROSSCOMPILING AND WIN32)
    # The cross compiler must not see /usr/include (glibc headers): stage links to the few
    # header-only dependencies instead. spdlog and fmt are used header-only here.
    set(KIRO_STAGING_INCLUDE ${CMAKE_BINARY_DIR}/staging/include)
    file(MAKE_DIRECTORY ${KIRO_STAGING_INCLUDE})
    foreach(dir spdlog fmt glm stb CLI nlohmann)
        file(CREATE_LINK /usr/include/${dir} ${KIRO_STAGING_INCLUDE}/${dir} SYMBOLIC)
    endforeach()
    target_include_directories(kiro_dependencies SYSTEM INTERFACE $<BUILD_INTERFACE:${KIRO_STAGING_INCLUDE}>)
    target_compile_definitions(kiro_dependencies INTERFACE SPDLOG_FMT_EXTERNAL FMT_HEADER_ONLY)

    # The MinGW runtime DLLs beside the binaries, so Wine finds them (bin/runtime keeps a set
    # for test folders of their own). The packages ship them too (KIRO_MINGW_RUNTIME_DLLS).
    set(KIRO_MINGW_RUNTIME_DLLS "")
    foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
            OUTPUT_VARIABLE dllPath OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
        list(APPEND KIRO_MINGW_RUNTIME_DLLS ${dllPath})
        file(COPY ${dllPath} DESTINATION ${CMAKE_BINARY_DIR}/bin)
        file(COPY ${dllPath} DESTINATION ${CMAKE_BINARY_DIR}/bin/runtime)
    endforeach()
else()
    find_package(spdlog REQUIRED)
    find_package(fmt REQUIRED)
    target_link_libraries(kiro_dependencies INTERFACE spdlog::spdlog fmt::fmt)
endif()

# Operating-system libraries behind the platform files.
add_library(kiro_system_libraries INTERFACE)
if(WIN32)
    target_link_libraries(kiro_system_libraries INTERFACE setupapi shell32 user32)
else()
    target_link_libraries(kiro_system_libraries INTERFACE ${CMAKE_DL_LIBS})
endif()
