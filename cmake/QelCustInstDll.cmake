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
# Refused at configure time: an unknown keyword, an export without an ordinal, an ordinal or a name
# given twice, a name that is not a C identifier, an ordinal outside 1..65535, a version number
# above 65535, a product name with a double quote, backslash or control character, and a toolchain
# that does not build Windows code with MinGW-w64 for i686 or x64.
# Refused at build time, before the link (i686 only: x64 has one calling convention): an export
# that the sources define other than as the installer calls a custom action,
# extern "C" UINT WINAPI name(MSIHANDLE) (__stdcall, one argument). A __cdecl function links and
# even runs under Wine, but leaves the installer's stack four bytes off. Only the target's own
# objects are looked at: an export defined in a library it links is not.
include_guard(GLOBAL)

set(_QEL_DLL_RC_TEMPLATE "${CMAKE_CURRENT_LIST_DIR}/QelCustInstDll.rc.in")
file(GLOB _QEL_DLL_TOOLCHAINS "${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake" "${CMAKE_CURRENT_LIST_DIR}/mingw-x86_64.cmake")
set(_QEL_DLL_SELF "${CMAKE_CURRENT_LIST_FILE}")

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

# Fails on a word that reads as a keyword but is none of the function's, such as SOURCE for SOURCES:
# left to the parser it would be taken for a source or an export. The values of VERSION and PRODUCT
# may be any word.
function(_qel_check_keywords me)
    set(keywords SOURCES EXPORTS VERSION PRODUCT)
    set(value_next FALSE)
    foreach(word IN LISTS ARGN)
        if(value_next)
            set(value_next FALSE)
            continue()
        endif()
        if(word STREQUAL "VERSION" OR word STREQUAL "PRODUCT")
            set(value_next TRUE)
            continue()
        endif()
        string(TOUPPER "${word}" upper)
        if(NOT word MATCHES "^[A-Za-z_]+$" OR word IN_LIST keywords
           OR (NOT upper IN_LIST keywords AND NOT word MATCHES "^[A-Z][A-Z_]+$"))
            continue()
        endif()
        set(hint "")
        foreach(keyword IN LISTS keywords)
            string(SUBSTRING "${keyword}" 0 3 start)
            if(upper MATCHES "^${start}")
                set(hint " (did you mean ${keyword}?)")
            endif()
        endforeach()
        message(FATAL_ERROR "${me}: unknown keyword '${word}'${hint}; the keywords are SOURCES, EXPORTS, "
                            "VERSION and PRODUCT")
    endforeach()
endfunction()

# Has the target's objects checked, before its link, for exports the installer cannot call
# (_qel_check_exports below). Only 32-bit code has calling conventions to tell apart.
function(_qel_check_export_conventions target me)
    if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
        return()
    endif()
    if(NOT CMAKE_NM)
        message(WARNING "${me}: the toolchain has no nm, so the exports' calling conventions go unchecked")
        return()
    endif()
    set(generated "${CMAKE_CURRENT_BINARY_DIR}/${target}.qel")
    file(GENERATE OUTPUT "${generated}/objects-$<CONFIG>.txt" CONTENT "$<TARGET_OBJECTS:${target}>")
    string(REPLACE ";" "," exports "${ARGN}")
    add_custom_command(TARGET ${target} PRE_LINK
        COMMAND "${CMAKE_COMMAND}" "-DQEL_DLL_ME=${me}" "-DQEL_DLL_EXPORTS=${exports}" "-DQEL_DLL_NM=${CMAKE_NM}"
                "-DQEL_DLL_OBJECTS=${generated}/objects-$<CONFIG>.txt" -P "${_QEL_DLL_SELF}"
        VERBATIM)
endfunction()

# Run as a script before the link: fails when an export is defined, in the objects listed, as a
# function of another calling convention or linkage than extern "C" UINT WINAPI name(MSIHANDLE),
# whose 32-bit symbol is _name@4. What the objects do not define at all is the linker's to report.
function(_qel_check_exports me exports nm objects_file)
    file(READ "${objects_file}" objects)
    string(REPLACE "," ";" exports "${exports}")
    # The functions the objects define, and beside each the object's file name.
    set(symbols "")
    set(sources "")
    foreach(object IN LISTS objects)
        execute_process(COMMAND "${nm}" -P --defined-only "${object}" OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
        if(failed)
            message(FATAL_ERROR "${me}: ${nm} could not read ${object}")
        endif()
        get_filename_component(source "${object}" NAME)
        string(REGEX MATCHALL "[^\n]+" lines "${listing}")
        foreach(line IN LISTS lines)
            if(line MATCHES "^([^ ]+) T ")
                list(APPEND symbols "${CMAKE_MATCH_1}")
                list(APPEND sources "${source}")
            endif()
        endforeach()
    endforeach()
    set(faults "")
    foreach(name IN LISTS exports)
        string(LENGTH "${name}" length)
        set(good FALSE)
        set(fault "")
        set(index 0)
        foreach(symbol IN LISTS symbols)
            list(GET sources ${index} object)
            math(EXPR index "${index} + 1")
            if(symbol STREQUAL "_${name}@4")
                set(good TRUE)
            elseif(symbol STREQUAL "_${name}")
                set(fault "is a __cdecl function, the compiler's default (symbol ${symbol} in ${object})")
            elseif(symbol MATCHES "^_${name}@([0-9]+)$")
                set(fault "takes ${CMAKE_MATCH_1} bytes of arguments (symbol ${symbol} in ${object}), not one MSIHANDLE")
            elseif(symbol MATCHES "^@${name}@[0-9]+$")
                set(fault "is a __fastcall function (symbol ${symbol} in ${object})")
            elseif(symbol MATCHES "^__Z${length}${name}[^0-9A-Za-z_]*[A-Za-z]" AND fault STREQUAL "")
                set(cplusplus "has C++ linkage (symbol ${symbol} in ${object})")
            endif()
        endforeach()
        if(fault STREQUAL "" AND NOT good AND DEFINED cplusplus)
            set(fault "${cplusplus}")
        endif()
        unset(cplusplus)
        if(NOT fault STREQUAL "")
            list(APPEND faults "export '${name}' ${fault}, but the installer calls a custom action as __stdcall with "
                               "one argument: declare it extern \"C\" UINT WINAPI ${name}(MSIHANDLE)")
        endif()
    endforeach()
    if(faults)
        list(JOIN faults "\n" text)
        message(FATAL_ERROR "${me}: ${text}")
    endif()
endfunction()

function(qel_add_custom_action_dll target)
    set(me "qel_add_custom_action_dll(${target})")
    _qel_check_keywords("${me}" ${ARGN})
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "VERSION;PRODUCT" "SOURCES;EXPORTS")
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
    # std::terminate's handler is abort itself: the C++ library's own one prints the type of the
    # exception that ended the program to a standard error nobody reads in an installer's custom-
    # action server, then aborts, and brings the library's demangler (some 48 KB) into the DLL for
    # that. (32-bit symbols carry a leading underscore.)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(terminate "-Wl,--defsym=__ZN9__gnu_cxx27__verbose_terminate_handlerEv=_abort")
    else()
        set(terminate "-Wl,--defsym=_ZN9__gnu_cxx27__verbose_terminate_handlerEv=abort")
    endif()
    target_link_options(${target} PRIVATE
        -static -static-libgcc -static-libstdc++ -Wl,--kill-at -Wl,--enable-stdcall-fixup -Wl,--gc-sections -s
        -Wl,--no-insert-timestamp ${terminate})
    _qel_check_export_conventions(${target} "${me}" ${names})
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    _qel_check_exports("${QEL_DLL_ME}" "${QEL_DLL_EXPORTS}" "${QEL_DLL_NM}" "${QEL_DLL_OBJECTS}")
endif()
