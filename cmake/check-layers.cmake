# Fails when a source file includes a project header of a layer it may not
# use. The layers, from the bottom up:
#   base     archive/ but the driver: strings, streams, the block reader
#            and its checksums, the result code and report hooks, the
#            platform seam
#   unpack   unpack/: the decoder (its input, output and progress are hooks)
#   driver   archive/extract.*: the extraction driver
#   install  install/: paths, file system, the two workers, the registry
#   app      app/: the program; it alone sees resources/resource.h
# product_version.h, which the build makes from the version (cmake/
# version.cmake), depends on nothing: install, app and remove may use it.
# Beside them: pack/ (archive writer and compressor) uses base and unpack;
# tools/ uses everything but app/; payload/saver/ stands alone;
# payload/remove/ uses install and base. Tests and
# benchmarks may include anything. The portable core (base, unpack, driver)
# includes only standard C++ headers, but in the platform seam.
# Usage: cmake -DROOT=<repository> -P check-layers.cmake
cmake_minimum_required(VERSION 3.25)
set(allowed_base base)
set(allowed_unpack unpack)
set(allowed_driver driver unpack base)
set(allowed_install install driver base version)
set(allowed_app app install driver base resources version)
set(allowed_pack pack unpack base)
set(allowed_tools tools pack install driver unpack base)
set(allowed_saver saver)
set(allowed_remove remove install base version)
set(allowed_resources resources)

# The layer of a path relative to ROOT, or "" for files outside the layers.
function(layer_of path out)
    if(path MATCHES "^archive/extract\\.")
        set(layer driver)
    elseif(path STREQUAL "product_version.h")
        set(layer version)
    elseif(path MATCHES "^archive/")
        set(layer base)
    elseif(path MATCHES "^(unpack|install|app|pack|tools|resources)/")
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
     ${ROOT}/archive/* ${ROOT}/unpack/* ${ROOT}/install/* ${ROOT}/app/* ${ROOT}/pack/*
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
               AND layer MATCHES "^(base|unpack|driver)$"
               AND NOT source MATCHES "platform_(win32|posix)\\.cpp$")
            string(APPEND faults "  ${source} (${layer}) includes a system header: ${line}\n")
        endif()
    endforeach()
endforeach()
if(faults)
    message(FATAL_ERROR "Includes against the layers:\n${faults}")
endif()
