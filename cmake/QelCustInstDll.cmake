# qel_add_custom_action_dll: a custom-action DLL for the Windows Installer, built like QelCustInst.dll.
#
#   qel_add_custom_action_dll(<target>
#       SOURCES <file>...
#       EXPORTS <Name>=<ordinal>...
#       [VERSION <major[.minor[.patch[.tweak]]]>]    default: the project's version
#       [PRODUCT <name>])                           default: the project's name
#
# Makes <target>.dll from the sources, linked with QelCustInst::framework, for the Windows the
# toolchain builds for (32-bit, i686; or 64-bit, x64: name the two DLLs apart when a project
# makes both, e.g. MyAction-x64):
#   - the C and C++ runtimes linked in and only Windows system DLLs imported, since the installer
#     loads the DLL from its Binary table with nothing beside it;
#   - each export under its undecorated name at the ordinal given (a .def written in the build folder);
#   - the same bytes from any build folder at any time: no link time stamp, the source and build
#     folders mapped away from the objects, unused sections dropped, symbols stripped;
#   - a version resource: FileVersion and ProductVersion from VERSION, the file's name, the product.
# Refused at configure time: an export without an ordinal, an ordinal or a name given twice, a name
# that is not a C identifier, an ordinal outside 1..65535, a version number above 65535, a product
# name with a double quote, backslash or control character, and a toolchain that does not build
# Windows code with MinGW-w64 for i686 or x64.
include_guard(GLOBAL)

set(_QEL_DLL_RC_TEMPLATE "${CMAKE_CURRENT_LIST_DIR}/QelCustInstDll.rc.in")
file(GLOB _QEL_DLL_TOOLCHAINS "${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake" "${CMAKE_CURRENT_LIST_DIR}/mingw-x86_64.cmake")

# The Windows architecture this build makes code for with MinGW-w64: i686 or x64; empty for
# anything else.
function(_qel_windows_architecture out)
    set(architecture "")
    if(CMAKE_SYSTEM_NAME STREQUAL "Windows" AND MINGW AND CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(architecture i686)
    elseif(CMAKE_SYSTEM_NAME STREQUAL "Windows" AND MINGW AND CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(architecture x64)
    endif()
    set(${out} "${architecture}" PARENT_SCOPE)
endfunction()

function(qel_add_custom_action_dll target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "VERSION;PRODUCT" "SOURCES;EXPORTS")
    set(me "qel_add_custom_action_dll(${target})")
    if(arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "${me}: unknown arguments: ${arg_UNPARSED_ARGUMENTS}")
    endif()
    # The two architectures differ in how an export is named: i686 decorates a __stdcall function's
    # name, which the .def and --kill-at undo; x64 has one calling convention and plain names.
    _qel_windows_architecture(architecture)
    if(NOT architecture)
        set(bits "?")
        if(CMAKE_SIZEOF_VOID_P)
            math(EXPR bits "${CMAKE_SIZEOF_VOID_P} * 8")
        endif()
        string(REPLACE ";" " or " toolchains "${_QEL_DLL_TOOLCHAINS}")
        message(FATAL_ERROR "${me}: the toolchain builds ${bits}-bit code for ${CMAKE_SYSTEM_NAME} with "
            "${CMAKE_CXX_COMPILER_ID} (${CMAKE_CXX_COMPILER}), not Windows code with MinGW-w64 for i686 or x64; "
            "configure with -DCMAKE_TOOLCHAIN_FILE=${toolchains}")
    endif()
    if(NOT arg_SOURCES)
        message(FATAL_ERROR "${me}: no SOURCES given")
    endif()
    if(NOT arg_EXPORTS)
        message(FATAL_ERROR "${me}: no EXPORTS given; write EXPORTS <Name>=<ordinal>...")
    endif()

    # The exports: C identifiers, each at an ordinal of its own.
    set(def "LIBRARY ${target}\nEXPORTS\n")
    set(names "")
    set(ordinals "")
    foreach(export IN LISTS arg_EXPORTS)
        if(NOT export MATCHES "^([^=]*)=(.*)$")
            message(FATAL_ERROR "${me}: export '${export}' has no ordinal; write ${export}=<ordinal>")
        endif()
        set(name "${CMAKE_MATCH_1}")
        set(ordinal "${CMAKE_MATCH_2}")
        if(NOT name MATCHES "^[A-Za-z_][A-Za-z0-9_]*$")
            message(FATAL_ERROR "${me}: export name '${name}' is not a C identifier")
        endif()
        if(ordinal STREQUAL "")
            message(FATAL_ERROR "${me}: export '${name}' has no ordinal; write ${name}=<ordinal>")
        endif()
        if(NOT ordinal MATCHES "^[0-9]+$" OR ordinal LESS 1 OR ordinal GREATER 65535)
            message(FATAL_ERROR "${me}: export '${name}' has ordinal '${ordinal}', not a number from 1 to 65535")
        endif()
        math(EXPR ordinal "${ordinal}")  # 007 is 7
        list(FIND names "${name}" at)
        if(NOT at EQUAL -1)
            message(FATAL_ERROR "${me}: export '${name}' is given twice")
        endif()
        list(FIND ordinals "${ordinal}" at)
        if(NOT at EQUAL -1)
            list(GET names ${at} other)
            message(FATAL_ERROR "${me}: ordinal ${ordinal} is given to both '${other}' and '${name}'")
        endif()
        list(APPEND names "${name}")
        list(APPEND ordinals "${ordinal}")
        string(APPEND def "    ${name} @${ordinal}\n")
    endforeach()

    # The version resource: FILEVERSION wants four numbers.
    if(NOT DEFINED arg_VERSION)
        set(arg_VERSION "${PROJECT_VERSION}")
    endif()
    if(NOT arg_VERSION MATCHES "^[0-9]+(\\.[0-9]+)?(\\.[0-9]+)?(\\.[0-9]+)?$")
        message(FATAL_ERROR "${me}: version '${arg_VERSION}' is not 1 to 4 numbers joined by dots; "
                            "give VERSION or a VERSION in project()")
    endif()
    string(REPLACE "." ";" written "${arg_VERSION}")
    set(numbers "")
    foreach(number IN LISTS written)
        if(number GREATER 65535)
            message(FATAL_ERROR "${me}: version '${arg_VERSION}' has the number ${number}; "
                                "each of its numbers must be from 0 to 65535 (the version resource holds 16 bits each)")
        endif()
        # Decimal as the version reads, whatever its leading zeros: the resource compiler would
        # take 05 for an octal number, and 08 for none at all.
        math(EXPR number "${number}")
        list(APPEND numbers "${number}")
    endforeach()
    # The product goes into a quoted string of the resource script, where " and \ have meanings of
    # their own and a line break ends the script's line.
    if(NOT DEFINED arg_PRODUCT)
        set(arg_PRODUCT "${PROJECT_NAME}")
    endif()
    string(ASCII 1 first_control)
    string(ASCII 31 last_control)
    string(ASCII 127 delete)
    if(arg_PRODUCT MATCHES "[\"\\${first_control}-${last_control}${delete}]")
        message(FATAL_ERROR "${me}: product name '${arg_PRODUCT}' holds a double quote, backslash or control "
                            "character, which the version resource cannot carry; give PRODUCT <name> without them")
    endif()
    list(LENGTH numbers count)
    while(count LESS 4)
        list(APPEND numbers 0)
        math(EXPR count "${count} + 1")
    endwhile()
    string(REPLACE ";" "," QEL_DLL_VERSION_COMMAS "${numbers}")
    set(QEL_DLL_VERSION "${arg_VERSION}")
    set(QEL_DLL_FILE "${target}.dll")
    set(QEL_DLL_PRODUCT "${arg_PRODUCT}")

    set(generated "${CMAKE_CURRENT_BINARY_DIR}/${target}.qel")
    file(CONFIGURE OUTPUT "${generated}/${target}.def" CONTENT "${def}")
    configure_file("${_QEL_DLL_RC_TEMPLATE}" "${generated}/${target}.rc" @ONLY)

    enable_language(RC)
    add_library(${target} SHARED ${arg_SOURCES} "${generated}/${target}.def" "${generated}/${target}.rc")
    set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME "${target}")
    target_link_libraries(${target} PRIVATE QelCustInst::framework)
    set(flags -ffunction-sections -fdata-sections
        "-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=" "-ffile-prefix-map=${PROJECT_BINARY_DIR}/=")
    target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:C,CXX>:${flags}>")
    target_link_options(${target} PRIVATE
        -static -static-libgcc -static-libstdc++ -Wl,--kill-at -Wl,--enable-stdcall-fixup -Wl,--gc-sections -s
        -Wl,--no-insert-timestamp)
endfunction()
