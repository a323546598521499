# Signing the download's programs (Halvaro.exe, setup7.exe, setup8.exe) as
# they are copied into dist/, when a code-signing certificate is given.
# build.sh sets these from the environment variables of the same names;
# without KURD_SIGN_CERTIFICATE nothing is signed and two builds give the
# same bytes. Kurd.dll is never signed: its image is exact.
set(KURD_SIGN_CERTIFICATE "" CACHE FILEPATH
    "Code-signing certificate with its chain: PEM or DER (with KURD_SIGN_KEY), or PKCS#12 (.p12, .pfx)")
set(KURD_SIGN_KEY "" CACHE FILEPATH "The certificate's private key, PEM or DER")
set(KURD_SIGN_PASSWORD_FILE "" CACHE FILEPATH "A file whose first line is the password of the key or PKCS#12 file")
set(KURD_SIGN_TIMESTAMP_URL "" CACHE STRING "An RFC 3161 time-stamp server (optional)")

# Without a certificate nothing is signed: a key, a password or a time-stamp
# server given alone is a mistake, not a wish for an unsigned build.
if(NOT KURD_SIGN_CERTIFICATE)
    foreach(variable KURD_SIGN_KEY KURD_SIGN_PASSWORD_FILE KURD_SIGN_TIMESTAMP_URL)
        if(${variable})
            message(FATAL_ERROR "${variable} is given without KURD_SIGN_CERTIFICATE: give the certificate as well, "
                                "or none of them for an unsigned build")
        endif()
    endforeach()
endif()

set(KURD_SIGNED_PROGRAMS Halvaro.exe setup7.exe setup8.exe)
set(KURD_SIGN ${CMAKE_CURRENT_LIST_DIR}/sign)
set(KURD_SIGNING_INPUTS)
set(kurd_sign_options)
if(KURD_SIGN_CERTIFICATE)
    find_program(OSSLSIGNCODE osslsigncode REQUIRED)
    foreach(variable KURD_SIGN_CERTIFICATE KURD_SIGN_KEY KURD_SIGN_PASSWORD_FILE)
        if(${variable})
            if(NOT EXISTS "${${variable}}")
                message(FATAL_ERROR "${variable}: there is no file ${${variable}}")
            endif()
            list(APPEND KURD_SIGNING_INPUTS ${${variable}})
        endif()
    endforeach()
    # The name Windows shows when it asks for an administrator's consent.
    file(STRINGS ${PRODUCT_VERSION_INCLUDE_DIR}/version.h product_name REGEX "^#define PRODUCT_NAME \".*\"$")
    if(NOT product_name MATCHES "\"(.+)\"")
        message(FATAL_ERROR "version.h defines no PRODUCT_NAME to sign the programs with")
    endif()
    list(APPEND kurd_sign_options --certificate ${KURD_SIGN_CERTIFICATE} --description ${CMAKE_MATCH_1})
    if(KURD_SIGN_KEY)
        list(APPEND kurd_sign_options --key ${KURD_SIGN_KEY})
    endif()
    if(KURD_SIGN_PASSWORD_FILE)
        list(APPEND kurd_sign_options --password-file ${KURD_SIGN_PASSWORD_FILE})
    endif()
    if(KURD_SIGN_TIMESTAMP_URL)
        list(APPEND kurd_sign_options --timestamp ${KURD_SIGN_TIMESTAMP_URL})
    endif()
    list(APPEND KURD_SIGNING_INPUTS ${KURD_SIGN})
    message(STATUS "Signing ${KURD_SIGNED_PROGRAMS} with ${KURD_SIGN_CERTIFICATE}")
endif()

# dist_file_command(<out> <name> <built file>): the command that puts the
# built file into dist/ as <name>, signed on the way where it is one of the
# download's programs and a certificate is given, else copied.
function(dist_file_command out name built)
    if(kurd_sign_options AND name IN_LIST KURD_SIGNED_PROGRAMS)
        set(${out} ${KURD_SIGN} ${kurd_sign_options} ${built} ${DIST_DIR}/${name} PARENT_SCOPE)
    else()
        set(${out} ${CMAKE_COMMAND} -E copy ${built} ${DIST_DIR}/${name} PARENT_SCOPE)
    endif()
endfunction()
