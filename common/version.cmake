# The package's version, written here and nowhere else. Every build that
# needs it (the top-level build and each Windows sub-build) includes this
# file: it sets PRODUCT_VERSION and its four parts and writes version.h, the
# header that every resource script and program includes for the version
# and the maker, into PRODUCT_VERSION_INCLUDE_DIR. A build given
# -DPRODUCT_VERSION=<four numbers> makes that version instead: the tests
# build a second installer so, to upgrade to and to refuse to go back from.
include_guard(GLOBAL)

if(NOT DEFINED PRODUCT_VERSION)
    set(PRODUCT_VERSION 1.0.3.40)
endif()

if(NOT PRODUCT_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
    message(FATAL_ERROR "PRODUCT_VERSION must be four numbers, got '${PRODUCT_VERSION}'")
endif()
set(PRODUCT_VERSION_MAJOR ${CMAKE_MATCH_1})
set(PRODUCT_VERSION_MINOR ${CMAKE_MATCH_2})
set(PRODUCT_VERSION_BUILD ${CMAKE_MATCH_3})
set(PRODUCT_VERSION_REVISION ${CMAKE_MATCH_4})
foreach(part MAJOR MINOR BUILD REVISION)
    # A version resource holds each part in 16 bits.
    if(PRODUCT_VERSION_${part} GREATER 65535)
        message(FATAL_ERROR "PRODUCT_VERSION ${PRODUCT_VERSION}: each part must be at most 65535")
    endif()
endforeach()

set(PRODUCT_VERSION_INCLUDE_DIR ${CMAKE_BINARY_DIR}/version)
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in ${PRODUCT_VERSION_INCLUDE_DIR}/version.h @ONLY)
