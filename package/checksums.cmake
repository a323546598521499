# Writes SHA256SUMS: the SHA-256 digest of what is published, the download
# archive and each file it holds, one line each as sha256sum writes them
# ("<digest>  <name>"), sorted by name, so that "sha256sum -c" checks the
# archive where it was saved and each file where it was unpacked.
#
#   cmake -DARCHIVE=<zip> -DOUTPUT=<file> -P checksums.cmake
foreach(variable ARCHIVE OUTPUT)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "checksums.cmake needs -D${variable}=...")
    endif()
endforeach()
set(unpacked ${OUTPUT}.unpacked)
file(REMOVE_RECURSE ${unpacked})
file(ARCHIVE_EXTRACT INPUT ${ARCHIVE} DESTINATION ${unpacked})
file(GLOB_RECURSE entries LIST_DIRECTORIES false RELATIVE ${unpacked} ${unpacked}/*)
get_filename_component(archive_name ${ARCHIVE} NAME)
set(names ${entries} ${archive_name})
list(SORT names)
set(lines "")
foreach(name IN LISTS names)
    if(name STREQUAL archive_name)
        file(SHA256 ${ARCHIVE} digest)
    else()
        file(SHA256 ${unpacked}/${name} digest)
    endif()
    string(APPEND lines "${digest}  ${name}\n")
endforeach()
file(REMOVE_RECURSE ${unpacked})
file(WRITE ${OUTPUT}.tmp "${lines}")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
