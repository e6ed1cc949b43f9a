# What an installed tree holds beside the binaries (the CMake package, the pkg-config file, the
# third-party notices with their licence texts; on Windows the MinGW runtime DLLs and the headers
# of the header-only dependencies) and the packages CPack makes of it: a Debian package on
# Linux, a .zip on Windows, with the same content.
include(CMakePackageConfigHelpers)

# CMake package: kiro::kiroVoveDizevuro, compatible within a major version.
set(KIRO_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/${PROJECT_NAME})
if(WIN32)
    set(KIRO_HEADER_ONLY_DEPENDENCIES ON)
else()
    set(KIRO_HEADER_ONLY_DEPENDENCIES OFF)
endif()
install(EXPORT kiroVoveDizevuroTargets NAMESPACE kiro:: DESTINATION ${KIRO_CMAKE_PACKAGE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/kiroVoveDizevuroConfig.cmake.in
    ${CMAKE_BINARY_DIR}/kiroVoveDizevuroConfig.cmake
    INSTALL_DESTINATION ${KIRO_CMAKE_PACKAGE_DIR}
    PATH_VARS CMAKE_INSTALL_INCLUDEDIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/kiroVoveDizevuroConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/kiroVoveDizevuroConfig.cmake ${CMAKE_BINARY_DIR}/kiroVoveDizevuroConfigVersion.cmake
    DESTINATION ${KIRO_CMAKE_PACKAGE_DIR})

# pkg-config: the prefix relative to the .pc file's folder.
file(RELATIVE_PATH KIRO_PC_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" KIRO_PC_PREFIX ${KIRO_PC_PREFIX})
configure_file(${PROJECT_SOURCE_DIR}/cmake/kiroVoveDizevuro.pc.in ${CMAKE_BINARY_DIR}/kiroVoveDizevuro.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/kiroVoveDizevuro.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(WIN32)
    # One C++ runtime shared by the library, its plug-ins, the tool and the host: the class
    # interface passes standard library objects and exceptions between them. Debian's DLLs carry
    # their debug information (23 MB for libstdc++-6.dll): the packages ship them stripped.
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/runtimeStripped)
    foreach(dll ${KIRO_MINGW_RUNTIME_DLLS})
        cmake_path(GET dll FILENAME name)
        execute_process(COMMAND ${CMAKE_STRIP} -o ${CMAKE_BINARY_DIR}/runtimeStripped/${name} ${dll}
            COMMAND_ERROR_IS_FATAL ANY)
        install(FILES ${CMAKE_BINARY_DIR}/runtimeStripped/${name} DESTINATION ${CMAKE_INSTALL_BINDIR})
    endforeach()
    # Windows has no packages of these: the headers the library was built with ship with it.
    install(DIRECTORY /usr/include/spdlog /usr/include/fmt /usr/include/glm
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h" PATTERN "*.hpp" PATTERN "*.inl")
endif()

# kiro_debian_notice(<prefix> <package> <licence file name>): sets <prefix>_ORIGIN to the Debian
# package and its version and installs the package's copyright file as the licence text.
function(kiro_debian_notice prefix package licenseName)
    set(copyright /usr/share/doc/${package}/copyright)
    execute_process(COMMAND dpkg-query -W -f=\${Version} ${package}
        OUTPUT_VARIABLE version RESULT_VARIABLE result ERROR_QUIET)
    if(NOT result EQUAL 0 OR NOT EXISTS ${copyright})
        message(FATAL_ERROR "The Debian package ${package} is missing: run scripts/installDependencies.sh")
    endif()
    set(${prefix}_ORIGIN "Debian package ${package} ${version}" PARENT_SCOPE)
    install(FILES ${copyright} DESTINATION ${CMAKE_INSTALL_DOCDIR}/licenses RENAME ${licenseName})
endfunction()

kiro_debian_notice(KIRO_SPDLOG libspdlog-dev spdlogLicense.txt)
kiro_debian_notice(KIRO_FMT libfmt-dev fmtLicense.txt)
kiro_debian_notice(KIRO_GLM libglm-dev glmLicense.txt)
kiro_debian_notice(KIRO_STB libstb-dev stbLicense.txt)
kiro_debian_notice(KIRO_CLI11 libcli11-dev cli11License.txt)
kiro_debian_notice(KIRO_NLOHMANN_JSON nlohmann-json3-dev nlohmannJsonLicense.txt)
set(KIRO_RUNTIME_NOTICES "")
set(next "\n                  ")  # the next line of a notice's field
if(WIN32)
    foreach(dependency spdlog fmt glm)
        string(TOUPPER ${dependency} name)
        set(KIRO_${name}_USE "header-only, in the library, the plug-in and the tool;${next}its headers ship in include/${dependency}")
    endforeach()
    kiro_debian_notice(KIRO_GCC_RUNTIME gcc-mingw-w64-x86-64-posix-runtime gccRuntimeLicense.txt)
    kiro_debian_notice(KIRO_WINPTHREAD mingw-w64-x86-64-dev mingwW64License.txt)
    install(FILES /usr/share/common-licenses/GPL-3 DESTINATION ${CMAKE_INSTALL_DOCDIR}/licenses RENAME gpl3License.txt)
    file(READ ${PROJECT_SOURCE_DIR}/thirdParty/mingwRuntimeNotices.txt.in KIRO_RUNTIME_NOTICES)
    string(CONFIGURE "${KIRO_RUNTIME_NOTICES}" KIRO_RUNTIME_NOTICES @ONLY)
else()
    set(linked "the library and the plug-in link the shared library of Debian's${next}")
    set(compiledIn " (a dependency of the package); code of its headers is compiled${next}into them and the tool")
    set(KIRO_SPDLOG_USE "${linked}libspdlog1.10${compiledIn}")
    set(KIRO_FMT_USE "${linked}libfmt9${compiledIn}")
    set(KIRO_GLM_USE "header-only, in the library, the plug-in and the tool")
endif()
file(READ ${KIRO_CPU_DETECTOR_NOTICES} KIRO_CPU_DETECTOR_NOTICES_TEXT)
configure_file(${PROJECT_SOURCE_DIR}/thirdParty/thirdPartyNotices.txt.in thirdPartyNotices.txt @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/thirdPartyNotices.txt DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Packages (scripts/package.sh): the whole install, stripped.
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_CONTACT "kiroVoveDizevuro developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Real-time head and eye tracking library")
set(CPACK_PACKAGE_DESCRIPTION "The library with its C and C++ interfaces, the CPU face detector \
plug-in with its models, the tracking tool with the virtual RealSense device, the headers, the \
CMake package and the pkg-config file.")
set(CPACK_STRIP_FILES ON)
if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_SYSTEM_NAME win64)
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION libs)
    # Depends from what the binaries need (dpkg-shlibdeps); a shlibs file and ldconfig calls for
    # the libraries with a soname.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
    # What a host of the class interface compiles against (the package's CMake file finds them).
    set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libspdlog-dev, libfmt-dev, libglm-dev")
endif()
include(CPack)
