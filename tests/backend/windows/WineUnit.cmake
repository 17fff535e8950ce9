# The Windows test build: GoogleTest from Debian's sources, built with this toolchain; the shared
# tests over the real installer; a test package authored at build time; ctest runs the executable
# under Wine (label wine-unit): a 32-bit build's through WoW64, a 64-bit build's under Wine's
# 64-bit loader against the 64-bit msi.dll.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_CURRENT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(target gtest gtest_main)
    target_compile_options(${target} PRIVATE -Wno-error)
endforeach()

set(here ${CMAKE_CURRENT_SOURCE_DIR}/backend/windows)
set(package ${CMAKE_CURRENT_BINARY_DIR}/QelTest.msi)
add_custom_command(OUTPUT ${package}
    COMMAND ${here}/make-package.sh ${here}/QelTest.wxs ${package} ${here}/QelTest.sql
    DEPENDS ${here}/make-package.sh ${here}/QelTest.wxs ${here}/QelTest.sql
    COMMENT "Authoring the test package QelTest.msi")

# The installations of the shared cases of the installation script: their custom actions, in a
# DLL of their own, and their package, beside the test package.
add_library(qel_script_actions SHARED shared/ScriptActions.cpp backend/windows/ScriptActions.def)
set_target_properties(qel_script_actions PROPERTIES PREFIX "")
target_include_directories(qel_script_actions PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR})
target_link_libraries(qel_script_actions PRIVATE qel_platform)
target_link_options(qel_script_actions PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--kill-at
    -Wl,--enable-stdcall-fixup)
set(scriptPackage ${CMAKE_CURRENT_BINARY_DIR}/QelScript.msi)
add_custom_command(OUTPUT ${scriptPackage}
    COMMAND ${here}/make-package.sh ${here}/QelScript.wxs ${scriptPackage} ${here}/QelScript.sql
        ScriptActions=$<TARGET_FILE:qel_script_actions>
    DEPENDS ${here}/make-package.sh ${here}/QelScript.wxs ${here}/QelScript.sql $<TARGET_FILE:qel_script_actions>
    COMMENT "Authoring the script package QelScript.msi")
add_custom_target(qel_test_package ALL DEPENDS ${package} ${scriptPackage})
add_dependencies(qel_test_package qel_script_actions)

add_executable(test_wine ${QEL_SHARED_TESTS} backend/windows/Backend.cpp)
target_include_directories(test_wine PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(test_wine PRIVATE qel_actions gtest_main)
target_link_options(test_wine PRIVATE -static)
add_dependencies(test_wine qel_test_package)

# One Wine process per shard, each reporting every case. They take turns in the one
# prefix (the script locks it; the resource lock keeps ctest from starting them together). The
# prefix is 64-bit and runs either build's executable: the 32-bit and the 64-bit test builds
# share it, so that only the first of them pays for its first start. QEL_WINE_LOCALE in ctest's
# environment (ru_RU.UTF-8, ja_JP.UTF-8) runs them all in that locale, in a prefix of its own.
set(QEL_WINE_UNIT_WORK "${CMAKE_SOURCE_DIR}/build/wine-unit" CACHE PATH
    "The work folder (Wine prefix and run folders) of the shared tests under Wine")
set(run ${here}/wine-unit.sh ${QEL_WINE_UNIT_WORK} $<TARGET_FILE:test_wine> ${package})
add_test(NAME wine_unit_prefix COMMAND ${run} --prepare)
set_tests_properties(wine_unit_prefix PROPERTIES LABELS wine-unit FIXTURES_SETUP wine_prefix TIMEOUT 300
    RESOURCE_LOCK wine_unit_prefix)
foreach(shard 0 1)
    add_test(NAME wine_unit_shard${shard} COMMAND ${run} --shard ${shard}/2 --gtest_filter=-CodePage932*)
    set_tests_properties(wine_unit_shard${shard} PROPERTIES
        LABELS wine-unit FIXTURES_REQUIRED wine_prefix TIMEOUT 300 RESOURCE_LOCK wine_unit_prefix)
endforeach()
# Every case again under a Russian (1251) and a Japanese (932) code page, beside the Western one
# (1252) of the shards above: text in any script must come through the kit's calls whole in each,
# and the ANSI calls lose what the page lacks as the platform's own conversion does. The Japanese
# run also takes the cases that need its double-byte code page.
foreach(locale ru_RU ja_JP)
    set(filter -CodePage932*)
    if(locale STREQUAL "ja_JP")
        set(filter -ContractTest.CodePage1252HasNoLeadBytes)
    endif()
    add_test(NAME wine_unit_${locale} COMMAND ${run} --gtest_filter=${filter})
    set_tests_properties(wine_unit_${locale} PROPERTIES LABELS wine-unit FIXTURES_REQUIRED wine_prefix TIMEOUT 300
        RESOURCE_LOCK wine_unit_prefix ENVIRONMENT QEL_WINE_LOCALE=${locale}.UTF-8)
endforeach()
