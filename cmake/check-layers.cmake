# Fails when a source file includes a project header of a layer it may not
# use. The layers are the folders, from the bottom up:
#   base     base/: byte strings, path buffers, byte streams, the platform
#            seam
#   archive  archive/: the block format, the checksums, the header reader,
#            the run's result code and report hooks
#   unpack   unpack/: the decoder (its input, output and progress are hooks)
#   extract  extract/: the extraction driver, which runs the reader and the
#            decoder
#   install  install/: paths, file system, the two workers, the registry
#   app      app/: the program; it alone sees resources/resource.h
# product_version.h, which the build makes from the version (cmake/
# version.cmake), depends on nothing: install, app and remove may use it.
# Beside them: pack/ (archive writer and compressor) uses archive, unpack
# and base, beside the decoder; tools/ uses everything but app/;
# payload/saver/ stands alone; payload/remove/ uses install, the checksums
# (archive) and base. Tests and benchmarks may include anything. The
# portable core (base, archive, unpack, extract) includes only standard C++
# headers, but in the platform seam.
# Usage: cmake -DROOT=<repository> -P check-layers.cmake
cmake_minimum_required(VERSION 3.25)
set(allowed_base base)
set(allowed_archive archive base)
set(allowed_unpack unpack)
set(allowed_extract extract unpack archive base)
set(allowed_install install extract archive base version)
set(allowed_app app install extract archive base resources version)
set(allowed_pack pack unpack archive base)
set(allowed_tools tools pack install extract unpack archive base)
set(allowed_saver saver)
set(allowed_remove remove install archive base version)
set(allowed_resources resources)

# The layer of a path relative to ROOT, or "" for files outside the layers.
function(layer_of path out)
    if(path STREQUAL "product_version.h")
        set(layer version)
    elseif(path MATCHES "^(base|archive|unpack|extract|install|app|pack|tools|resources)/")
        set(layer ${CMAKE_MATCH_1})
    elseif(path MATCHES "^payload/saver/")
        set(layer saver)
    elseif(path MATCHES "^payload/remove/")
        set(layer remove)
    else()
        set(layer "")
    endif()
    set(${out} ${layer} PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE sources RELATIVE ${ROOT}
     ${ROOT}/base/* ${ROOT}/archive/* ${ROOT}/unpack/* ${ROOT}/extract/* ${ROOT}/install/* ${ROOT}/app/* ${ROOT}/pack/*
     ${ROOT}/tools/* ${ROOT}/resources/*.h ${ROOT}/payload/saver/* ${ROOT}/payload/remove/*)
list(FILTER sources INCLUDE REGEX "\\.(h|cpp)$")
set(faults "")
foreach(source ${sources})
    layer_of(${source} layer)
    file(STRINGS ${ROOT}/${source} includes REGEX "^#include [<\"]")
    foreach(line ${includes})
        if(line MATCHES "^#include \"([^\"]+)\"")
            layer_of(${CMAKE_MATCH_1} target)
            if(target STREQUAL "" OR NOT target IN_LIST allowed_${layer})
                string(APPEND faults "  ${source} (${layer}) includes ${CMAKE_MATCH_1}\n")
            endif()
        elseif(line MATCHES "^#include <[^>]+\\.h>"
               AND layer MATCHES "^(base|archive|unpack|extract)$"
               AND NOT source MATCHES "platform_(win32|posix)\\.cpp$")
            string(APPEND faults "  ${source} (${layer}) includes a system header: ${line}\n")
        endif()
    endforeach()
endforeach()
if(faults)
    message(FATAL_ERROR "Includes against the layers:\n${faults}")
endif()
