# The kit for authors of custom actions: `cmake --install` of this build puts under the prefix
#
#   include/QelCustInst/{actions,errors,messages,msi,text}/*.h   the framework's public headers
#   include/QelCustInst/*.h                                      this build's platform header(s)
#   lib/                                                         the framework and platform libraries
#   lib/cmake/QelCustInst/                                       the CMake package QelCustInst
#
# and for a Windows build also the custom-action DLL function (QelCustInstDll.cmake), its version
# resource, the i686 toolchain file and the Wine runner (share/QelCustInst/wine/). An author's
# project writes find_package(QelCustInst CONFIG REQUIRED) and links QelCustInst::framework.
# Everything here is of the component "kit", which the release ZIP leaves out.
#
# The headers go by the list below, nothing else: what the library uses only inside itself (the
# installer's text protocol, the deferred outcome of a call, the model's state, the DLL's own
# exports) stays out. Their one include root is include/: authors write
# #include "QelCustInst/msi/KestMsiRecord.h", and the headers reach each other by relative paths.
include(CMakePackageConfigHelpers)

set(QEL_KIT_CMAKE_DIR lib/cmake/QelCustInst)
set(QEL_PUBLIC_HEADERS
    actions/ActionFrame.h
    errors/EKestException.h
    errors/EKestExceptionInfo.h
    errors/EKestExceptionInterface.h
    errors/EKestInvalidParameter.h
    errors/EKestMsiError.h
    errors/EKestWinError.h
    errors/PersistingRule.h
    errors/Raise.h
    messages/KestMessageProcessor.h
    messages/KestMsiMessageProcessor.h
    msi/Database.h
    msi/Deferred.h
    msi/KestMsiBoolProperty.h
    msi/KestMsiDatabase.h
    msi/KestMsiDirectory.h
    msi/KestMsiHandle.h
    msi/KestMsiObject.h
    msi/KestMsiProperty.h
    msi/KestMsiRecord.h
    msi/KestMsiView.h
    msi/Progress.h
    msi/Records.h
    msi/Session.h
    text/DeferredData.h
    text/KestCString.h
    text/LiteralFormat.h
)
foreach(header ${QEL_PUBLIC_HEADERS})
    get_filename_component(area ${header} DIRECTORY)
    install(FILES ${header} DESTINATION include/QelCustInst/${area} COMPONENT kit)
endforeach()
install(FILES ${QEL_PLATFORM_HEADERS} DESTINATION include/QelCustInst COMPONENT kit)

# One include root. Code written when the kit also put include/QelCustInst on the path
# (#include "msi/KestMsiRecord.h", "QelPlatform.h") still compiles: that folder is searched after
# every other, system folders included (-idirafter), so an author's own msi/ or errors/ wins.
target_include_directories(qel_framework INTERFACE $<INSTALL_INTERFACE:include>)
target_compile_options(qel_framework INTERFACE $<INSTALL_INTERFACE:-idirafter$<INSTALL_PREFIX>/include/QelCustInst>)
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
