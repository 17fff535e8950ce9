# The kit for authors of custom actions: `cmake --install` of this build puts under the prefix
#
#   include/QelCustInst/{actions,errors,messages,msi,text}/*.h   the framework's public headers
#   include/QelCustInst/qel.h                                    the one header an action includes
#   include/QelCustInst/*.h                                      this build's platform header(s)
#   lib/ (lib/x64/ for 64-bit Windows)                           the framework and platform libraries
#   lib/cmake/QelCustInst/ (lib/cmake/QelCustInst-x64/)          the CMake package QelCustInst
#
#   bin/qel-new-action, bin/qel-setup                            a new action's project; what authors install
#   share/QelCustInst/new-action/                                the templates of that project
#   share/doc/QelCustInst/                                       the guide and the changelog of the kit's API
#
# and for a Windows build also the custom-action DLL function (QelCustInstDll.cmake), its version
# resource, the build's toolchain file and the Wine runner (share/QelCustInst/wine/). The Windows
# kits for i686 and x64 may share a prefix: the headers and the runner are the same files, the
# libraries and packages lie apart, and find_package takes the one the toolchain builds for. An
# author's project writes find_package(QelCustInst CONFIG REQUIRED) and links QelCustInst::framework.
# Everything here is of the component "kit", which the release ZIP leaves out.
#
# The headers go by the list below, nothing else: what the library uses only inside itself (the
# installer's text protocol, the deferred outcome of a call, the model's state, the DLL's own
# exports) stays out. Their one include root is include/: authors write
# #include "QelCustInst/msi/KestMsiRecord.h", and the headers reach each other by relative paths.
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

set(QEL_PUBLIC_HEADERS
    actions/ActionFrame.h
    actions/File.h
    errors/EKestException.h
    errors/EKestExceptionInfo.h
    errors/EKestExceptionInterface.h
    errors/EKestInvalidParameter.h
    errors/EKestMsiError.h
    errors/EKestWinError.h
    errors/PersistingRule.h
    errors/Raise.h
    messages/KestLogFile.h
    messages/KestLogFileStream.h
    messages/KestLogStream.h
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
    msi/Row.h
    msi/Rows.h
    msi/Session.h
    text/DeferredData.h
    text/KestCString.h
    text/LiteralFormat.h
    text/Text.h
    text/TextArg.h
    text/Unicode.h
)
foreach(header ${QEL_PUBLIC_HEADERS})
    get_filename_component(area ${header} DIRECTORY)
    install(FILES ${header} DESTINATION include/QelCustInst/${area} COMPONENT kit)
endforeach()
install(FILES ${QEL_PLATFORM_HEADERS} DESTINATION include/QelCustInst COMPONENT kit)
# The one header an action includes, #include <QelCustInst/qel.h>, beside the areas it reaches.
install(FILES qel.h DESTINATION include/QelCustInst COMPONENT kit)

# One include root. Code written when the kit also put include/QelCustInst on the path
# (#include "msi/KestMsiRecord.h", "QelPlatform.h") still compiles: that folder is searched after
# every other, system folders included (-idirafter), so an author's own msi/ or errors/ wins.
target_include_directories(qel_framework INTERFACE $<INSTALL_INTERFACE:include>)
target_compile_options(qel_framework INTERFACE $<INSTALL_INTERFACE:-idirafter$<INSTALL_PREFIX>/include/QelCustInst>)
install(TARGETS qel_framework qel_platform EXPORT QelCustInstTargets ARCHIVE DESTINATION ${QEL_KIT_LIB_DIR} COMPONENT kit)
install(EXPORT QelCustInstTargets NAMESPACE QelCustInst:: DESTINATION ${QEL_KIT_CMAKE_DIR} COMPONENT kit)

# Every kit: the command that makes a new action's project and its templates, the command that
# installs what an author needs beside the kits, the guide and the changelog of the kit's API. The
# same files in each kit, so that both Windows kits may share a prefix.
configure_file(kit/qel-new-action.in ${CMAKE_CURRENT_BINARY_DIR}/kit/qel-new-action @ONLY)
install(PROGRAMS ${CMAKE_CURRENT_BINARY_DIR}/kit/qel-new-action kit/qel-setup DESTINATION bin COMPONENT kit)
install(DIRECTORY kit/new-action/ DESTINATION share/QelCustInst/new-action COMPONENT kit
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(PROGRAMS kit/new-action/package/run-package.sh DESTINATION share/QelCustInst/new-action/package COMPONENT kit)
install(FILES docs/AUTHORING.md docs/KIT-CHANGELOG.md DESTINATION share/doc/QelCustInst COMPONENT kit)

# The host kit's tests load the package an author makes with the kit's actions in it.
if(QEL_KIT_PLATFORM STREQUAL "host")
    install(FILES installer/QelCustInst.wxi installer/Error.idt DESTINATION share/QelCustInst/installer COMPONENT kit)
endif()
if(QEL_KIT_PLATFORM STREQUAL "windows")
    install(FILES cmake/QelCustInstDll.cmake cmake/QelCustInstDll.rc.in cmake/${QEL_KIT_TOOLCHAIN}
            DESTINATION ${QEL_KIT_CMAKE_DIR} COMPONENT kit)
    install(PROGRAMS wine/run-package.sh DESTINATION share/QelCustInst/wine COMPONENT kit)
    install(FILES wine/qel-wine.sh DESTINATION share/QelCustInst/wine COMPONENT kit)
endif()

# `--target kit` builds what an install of the kit takes and nothing else (no tests, no DLL);
# testing/ adds the host kit's fixture and sweep to it.
add_custom_target(kit)
add_dependencies(kit qel_framework)
if(TARGET qel_platform AND NOT QEL_KIT_PLATFORM STREQUAL "windows")
    add_dependencies(kit qel_platform)
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
