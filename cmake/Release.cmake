# What a package author receives: `cmake --install build/windows --prefix DIR`, or a ZIP of the
# same files with `cpack --config build/windows/CPackConfig.cmake` (scripts/release.sh makes it):
#
#   QelCustInst.dll              the custom-action DLL, for 32-bit Windows: packages for either
#                                platform run it, and it is the one the release's tools and texts name
#   QelCustInst.dll.sha256       its SHA-256, in the form `sha256sum -c` reads
#   QelCustInst-x64.dll          the same actions built for 64-bit Windows (the windows-x64 build)
#   QelCustInst-x64.dll.sha256   its SHA-256
#   QelCustInst.wxi              WiX include: the Binary element and both CustomAction elements
#   Error.idt                    the Error-table row 26002, for authoring tools without an Error element
#   add-to-package.sh            adds all of the above to an existing package (msitools)
#   sign.sh                      signs the DLL (osslsigncode)
#   PACKAGE-AUTHORS.md           the README's section for package authors
#
# The windows-x64 build installs its DLL and SHA-256 for the ZIP, which takes them from there, and
# the WiX include and Error-table row for its own kit.

install(FILES $<TARGET_FILE:${QEL_DLL}> DESTINATION .)
string(CONFIGURE [[
    set(dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    file(SHA256 "${dir}/@QEL_DLL@.dll" hash)
    file(WRITE "${dir}/@QEL_DLL@.dll.sha256" "${hash}  @QEL_DLL@.dll\n")
    message(STATUS "SHA-256: ${hash}  @QEL_DLL@.dll")
]] sha256 @ONLY)
install(CODE "${sha256}")

if(QEL_KIT_ARCHITECTURE STREQUAL "x64")
    install(FILES installer/QelCustInst.wxi installer/Error.idt DESTINATION . COMPONENT kit)
    return()
endif()

# The README's section for package authors, cut out at configure time so that it cannot drift.
set(readme ${CMAKE_SOURCE_DIR}/README.md)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${readme})
file(READ ${readme} text)
string(FIND "${text}" "\n## Using the DLL in a package\n" from)
if(from EQUAL -1)
    message(FATAL_ERROR "README.md has no section \"## Using the DLL in a package\"")
endif()
math(EXPR from "${from} + 1")
string(SUBSTRING "${text}" ${from} -1 text)
string(REGEX REPLACE "\n## .*" "\n" text "${text}")
file(WRITE ${CMAKE_BINARY_DIR}/PACKAGE-AUTHORS.md "${text}")

install(FILES installer/QelCustInst.wxi installer/Error.idt ${CMAKE_BINARY_DIR}/PACKAGE-AUTHORS.md
        DESTINATION .)
install(PROGRAMS installer/add-to-package.sh scripts/sign.sh DESTINATION .)

# The ZIP: what a package author needs from this build and the 64-bit DLL from the windows-x64
# build, not the kits.
set(QEL_RELEASE_X64_BUILD "${CMAKE_SOURCE_DIR}/build/windows-x64" CACHE PATH
    "The windows-x64 build whose QelCustInst-x64.dll the release ZIP holds beside QelCustInst.dll")
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};QelCustInst;Unspecified;/"
    "${QEL_RELEASE_X64_BUILD};QelCustInst;Unspecified;/")
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME QelCustInst)
set(CPACK_PACKAGE_FILE_NAME QelCustInst-${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/release)
include(CPack)
