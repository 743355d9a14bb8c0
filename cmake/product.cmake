# How the shipped programs (the setup and the screen saver) are compiled and
# linked, in one place. On top of the MinSizeRel build type's -Os.
#
# qv_product carries the compile settings: every library that goes into the
# product links it PRIVATE, so the tests that link the same libraries get
# the same code. qv_product_executable adds the link settings to a shipped
# program only.
add_library(qv_product INTERFACE)

if(WIN32)
    target_compile_options(qv_product INTERFACE
        # Each function in a section of its own, so that the linker drops
        # what nothing calls. Not so for data: this compiler then puts
        # zero-filled objects (the decoder's state, the checksum tables)
        # into initialised data, which takes their size in the file.
        -ffunction-sections
        # The product throws nothing and asks no type names: no exception
        # runtime, no type information, no unwind tables.
        $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>
        -fno-asynchronous-unwind-tables -fno-unwind-tables)
endif()

function(qv_product_executable target)
    target_link_libraries(${target} PRIVATE qv_product)
    if(WIN32)
        # Drop unreferenced sections; strip the symbols.
        target_link_options(${target} PRIVATE -Wl,--gc-sections -s)
    endif()
endfunction()
