# The kit for authors of custom actions: `cmake --install` of this build puts under the prefix
#
#   include/QelCustInst/{actions,errors,messages,msi,text}/*.h   the framework's headers
#   include/QelCustInst/*.h                                      this build's platform header(s)
#   lib/ (lib/x64/ for 64-bit Windows)                           the framework and platform libraries
#   lib/cmake/QelCustInst/ (lib/cmake/QelCustInst-x64/)          the CMake package QelCustInst
#
# and for a Windows build also the custom-action DLL function (QelCustInstDll.cmake), its version
# resource, the build's toolchain file and the Wine runner (share/QelCustInst/wine/). The Windows
# kits for i686 and x64 may share a prefix: the headers and the runner are the same files, the
# libraries and packages lie apart, and find_package takes the one the toolchain builds for. An
# author's project writes find_package(QelCustInst CONFIG REQUIRED) and links QelCustInst::framework.
# Everything here is of the component "kit", which the release ZIP leaves out.
include(CMakePackageConfigHelpers)

# What this build makes, as the kit names it: QEL_KIT_PLATFORM windows or host; for Windows,
# QEL_KIT_ARCHITECTURE i686 or x64.
set(QEL_KIT_CMAKE_DIR lib/cmake/QelCustInst)
set(QEL_KIT_LIB_DIR lib)
if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
    set(QEL_KIT_PLATFORM windows)
    if(MINGW AND CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(QEL_KIT_ARCHITECTURE i686)
        set(QEL_KIT_CODE "32-bit Windows (i686)")
        set(QEL_KIT_TOOLCHAIN mingw-i686.cmake)
    elseif(MINGW AND CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(QEL_KIT_ARCHITECTURE x64)
        set(QEL_KIT_CODE "64-bit Windows (x64)")
        set(QEL_KIT_TOOLCHAIN mingw-x86_64.cmake)
        set(QEL_KIT_CMAKE_DIR lib/cmake/QelCustInst-x64)
        set(QEL_KIT_LIB_DIR lib/x64)
    else()
        message(FATAL_ERROR "QelCustInst builds for Windows with MinGW-w64, for i686 or x64: configure with "
                            "-DCMAKE_TOOLCHAIN_FILE=${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake or mingw-x86_64.cmake")
    endif()
    set(QEL_KIT_NAME "Windows kit for ${QEL_KIT_CODE}")
else()
    set(QEL_KIT_PLATFORM host)
    set(QEL_KIT_ARCHITECTURE ${CMAKE_SYSTEM_PROCESSOR})
    set(QEL_KIT_NAME "host kit for ${CMAKE_SYSTEM_NAME}")
endif()

target_include_directories(qel_platform INTERFACE $<INSTALL_INTERFACE:include/QelCustInst>)

foreach(area actions errors messages msi text)
    # The DLL's own export declarations are no part of the kit.
    install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${area}/ DESTINATION include/QelCustInst/${area} COMPONENT kit
            FILES_MATCHING PATTERN "*.h" PATTERN "QelCustInst.h" EXCLUDE)
endforeach()
install(DIRECTORY ${QEL_PLATFORM_HEADERS} DESTINATION include/QelCustInst COMPONENT kit FILES_MATCHING PATTERN "*.h")
install(TARGETS qel_framework qel_platform EXPORT QelCustInstTargets ARCHIVE DESTINATION ${QEL_KIT_LIB_DIR} COMPONENT kit)
install(EXPORT QelCustInstTargets NAMESPACE QelCustInst:: DESTINATION ${QEL_KIT_CMAKE_DIR} COMPONENT kit)

if(QEL_KIT_PLATFORM STREQUAL "windows")
    install(FILES cmake/QelCustInstDll.cmake cmake/QelCustInstDll.rc.in cmake/${QEL_KIT_TOOLCHAIN}
            DESTINATION ${QEL_KIT_CMAKE_DIR} COMPONENT kit)
    install(PROGRAMS wine/run-package.sh DESTINATION share/QelCustInst/wine COMPONENT kit)
    install(FILES wine/qel-wine.sh DESTINATION share/QelCustInst/wine COMPONENT kit)
endif()

# The package: what the kit is and whether it serves the build that looks for it (read by the
# version file, so that find_package passes over a kit for another build, and by the Config);
# the version by CMake's rule, which the version file asks first.
set(generated ${CMAKE_CURRENT_BINARY_DIR}/kit)
configure_file(cmake/QelCustInstKit.cmake.in ${generated}/QelCustInstKit.cmake @ONLY)
configure_file(cmake/QelCustInstConfigVersion.cmake.in ${generated}/QelCustInstConfigVersion.cmake @ONLY)
configure_package_config_file(cmake/QelCustInstConfig.cmake.in ${generated}/QelCustInstConfig.cmake
    INSTALL_DESTINATION ${QEL_KIT_CMAKE_DIR})
write_basic_package_version_file(${generated}/QelCustInstSameMajorVersion.cmake
    COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${generated}/QelCustInstConfig.cmake ${generated}/QelCustInstConfigVersion.cmake
              ${generated}/QelCustInstKit.cmake ${generated}/QelCustInstSameMajorVersion.cmake
        DESTINATION ${QEL_KIT_CMAKE_DIR} COMPONENT kit)
