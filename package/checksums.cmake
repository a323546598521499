# Writes SHA256SUMS: the SHA-256 digest of each shipped file, one line
# each as sha256sum writes them ("<digest>  <name>"), names relative to
# the folder and sorted, so that "sha256sum -c SHA256SUMS" checks them
# there.
#
#   cmake -DFOLDER=<dist> -DNAMES=<name;...> -DOUTPUT=<file> -P checksums.cmake
foreach(variable FOLDER NAMES OUTPUT)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "checksums.cmake needs -D${variable}=...")
    endif()
endforeach()
list(SORT NAMES)
set(lines "")
foreach(name IN LISTS NAMES)
    file(SHA256 ${FOLDER}/${name} digest)
    string(APPEND lines "${digest}  ${name}\n")
endforeach()
file(WRITE ${OUTPUT}.tmp "${lines}")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
