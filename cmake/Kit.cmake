# The kit for authors of custom actions: `cmake --install` of this build puts under the prefix
#
#   include/QelCustInst/{actions,errors,messages,msi,text}/*.h   the framework's headers
#   include/QelCustInst/*.h                                      this build's platform header(s)
#   lib/                                                         the framework and platform libraries
#   lib/cmake/QelCustInst/                                       the CMake package QelCustInst
#
# and for a Windows build also the custom-action DLL function (QelCustInstDll.cmake), its version
# resource, the i686 toolchain file and the Wine runner (share/QelCustInst/wine/). An author's
# project writes find_package(QelCustInst CONFIG REQUIRED) and links QelCustInst::framework.
# Everything here is of the component "kit", which the release ZIP leaves out.
include(CMakePackageConfigHelpers)

set(QEL_KIT_CMAKE_DIR lib/cmake/QelCustInst)
target_include_directories(qel_platform INTERFACE $<INSTALL_INTERFACE:include/QelCustInst>)

foreach(area actions errors messages msi text)
    # The DLL's own export declarations are no part of the kit.
    install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${area}/ DESTINATION include/QelCustInst/${area} COMPONENT kit
            FILES_MATCHING PATTERN "*.h" PATTERN "QelCustInst.h" EXCLUDE)
endforeach()
install(DIRECTORY ${QEL_PLATFORM_HEADERS} DESTINATION include/QelCustInst COMPONENT kit FILES_MATCHING PATTERN "*.h")
install(TARGETS qel_framework qel_platform EXPORT QelCustInstTargets ARCHIVE DESTINATION lib COMPONENT kit)
install(EXPORT QelCustInstTargets NAMESPACE QelCustInst:: DESTINATION ${QEL_KIT_CMAKE_DIR} COMPONENT kit)

if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
    set(QEL_KIT_PLATFORM windows)
    install(FILES cmake/QelCustInstDll.cmake cmake/QelCustInstDll.rc.in cmake/mingw-i686.cmake
            DESTINATION ${QEL_KIT_CMAKE_DIR} COMPONENT kit)
    install(PROGRAMS wine/run-package.sh DESTINATION share/QelCustInst/wine COMPONENT kit)
    install(FILES wine/qel-wine.sh DESTINATION share/QelCustInst/wine COMPONENT kit)
    # The release ZIP holds what a package author needs, not the kit.
    set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};QelCustInst;Unspecified;/")
else()
    set(QEL_KIT_PLATFORM host)
endif()

configure_package_config_file(cmake/QelCustInstConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/QelCustInstConfig.cmake
    INSTALL_DESTINATION ${QEL_KIT_CMAKE_DIR})
# Either kit answers for any pointer size: its Config names what it was built for and refuses
# another build with a message of its own.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/QelCustInstConfigVersion.cmake
    COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/QelCustInstConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/QelCustInstConfigVersion.cmake
        DESTINATION ${QEL_KIT_CMAKE_DIR} COMPONENT kit)
