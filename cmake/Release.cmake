# What a package author receives: `cmake --install build/windows --prefix DIR`, or a ZIP of the
# same files with `cpack --config build/windows/CPackConfig.cmake`.
#
#   QelCustInst.dll          the custom-action DLL
#   QelCustInst.dll.sha256   its SHA-256, in the form `sha256sum -c` reads
#   QelCustInst.wxi          WiX include: the Binary element and both CustomAction elements
#   Error.idt                the Error-table row 26002, for authoring tools without an Error element
#   add-to-package.sh        adds all of the above to an existing package (msitools)
#   sign.sh                  signs the DLL (osslsigncode)
#   PACKAGE-AUTHORS.md       the README's section for package authors

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

install(FILES $<TARGET_FILE:QelCustInst> DESTINATION .)
install(FILES installer/QelCustInst.wxi installer/Error.idt ${CMAKE_BINARY_DIR}/PACKAGE-AUTHORS.md
        DESTINATION .)
install(PROGRAMS installer/add-to-package.sh scripts/sign.sh DESTINATION .)
install(CODE [[
    set(dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    file(SHA256 "${dir}/QelCustInst.dll" hash)
    file(WRITE "${dir}/QelCustInst.dll.sha256" "${hash}  QelCustInst.dll\n")
    message(STATUS "SHA-256: ${hash}  QelCustInst.dll")
]])

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME QelCustInst)
set(CPACK_PACKAGE_FILE_NAME QelCustInst-${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/release)
include(CPack)
