# Prints the product's size, with and without the embedded archive.
# Usage: cmake -DEXE=path -DARCHIVE=path -P product-size.cmake
file(SIZE ${EXE} exe_size)
set(archive_size 0)
if(EXISTS ${ARCHIVE})
    file(SIZE ${ARCHIVE} archive_size)
endif()
math(EXPR code_size "${exe_size} - ${archive_size}")
message("product size: ${exe_size} bytes (without archive: ${code_size} bytes)")
