# How the shipped programs (the setup, the screen saver and the uninstaller)
# are compiled and linked, in one place. On top of the MinSizeRel build
# type's -Os.
#
# qv_shipped: compile settings of every shipped program.
# qv_product: those of the setup and of every library linked into it, which
#   link it PRIVATE, so that the tests linking the same libraries test the
#   same code.
# qv_product_speed: the decoder (unpack/), built for speed (-O2) in every
#   build, also in the product, whose other code is built for size: its
#   decoding loop runs for every byte of an extraction.
# QV_DECODER_FOR_SIZE: the decoder's sources that the i686 setup builds for
#   size all the same: what runs once per code-table block or entry.
#   Measured in the i686 setup: -O2 for the decoding loop costs 1,136 bytes
#   of code and makes executables and text decode 4 to 7 percent faster;
#   for the multimedia runs 112 bytes, for 1.5 times their speed; for the
#   work per block and per entry 544 bytes, for code that runs seldom.
#   The i686 setup's decoder also keeps no padding to align its functions,
#   loops and jump targets: 220 bytes, for no speed that shows under WoW64.
# qv_shipped_executable: the link settings, for a shipped program only.
add_library(qv_shipped INTERFACE)
add_library(qv_product INTERFACE)
target_link_libraries(qv_product INTERFACE qv_shipped)
add_library(qv_product_speed INTERFACE)
target_compile_options(qv_product_speed INTERFACE -O2)
set(QV_DECODER_FOR_SIZE "")
if(WIN32 AND CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    set(QV_DECODER_FOR_SIZE entry.cpp)
    target_compile_options(qv_product_speed INTERFACE
        -falign-functions=1 -falign-loops=1 -falign-jumps=1 -falign-labels=1)
endif()

if(WIN32)
    target_compile_options(qv_shipped INTERFACE
        # Each function in a section of its own, so that the linker drops
        # what nothing calls. Not so for data: this compiler then puts
        # zero-filled objects (the decoder's state, the checksum tables)
        # into initialised data, which takes their size in the file.
        -ffunction-sections
        # Nothing throws and nothing asks a type's name: no exception
        # runtime, no type information, no unwind tables.
        $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>
        -fno-asynchronous-unwind-tables -fno-unwind-tables
        # The same bytes wherever the sources lie: a path that reaches the
        # program (__FILE__ in an assertion) is written relative to them.
        -ffile-prefix-map=${PROJECT_SOURCE_DIR}/=
        -ffile-prefix-map=${PROJECT_BINARY_DIR}/=)
    if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
        target_compile_options(qv_product INTERFACE
            # 32-bit Windows promises a 4-byte aligned stack and no more; the
            # compiler's default keeps 16 bytes and pays for it at every
            # call. Arguments are pushed rather than stored into a reserved
            # area, and no register is kept for a frame pointer.
            -mpreferred-stack-boundary=2 -mno-accumulate-outgoing-args -fomit-frame-pointer
            # Pushed arguments rule out stack probes, which only frames
            # larger than the 4 KB guard page need: the build refuses such
            # a frame.
            -mno-stack-arg-probe -Wframe-larger-than=4000)
    endif()
endif()

# qv_shipped_executable(TARGET [OWN_ENTRY])
# A shipped (windowed) program restricts its library search to the system
# folder before anything else runs (app/dll_search.cpp).
# OWN_ENTRY: the program brings its own entry point (app/runtime.cpp) in
# place of the C runtime's start-up code, and restricts the search there;
# else the entry point is RestrictedStartup, which then runs that code.
function(qv_shipped_executable target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "OWN_ENTRY" "" "")
    if(WIN32)
        # Drop unreferenced sections; strip the symbols. No build time in
        # the header (its time stamp stays 0): the same sources give the
        # same bytes on any day. The linker writes the header's checksum
        # over the final, stripped bytes.
        target_link_options(${target} PRIVATE -Wl,--gc-sections -s -Wl,--no-insert-timestamp)
        get_target_property(windowed ${target} WIN32_EXECUTABLE)
        if(windowed)
            target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/app/dll_search.cpp)
            target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
        endif()
        if(arg_OWN_ENTRY)
            # Without the start-up code nothing would apply runtime
            # pseudo-relocations: the link fails if one were needed.
            target_link_options(${target} PRIVATE -nostartfiles
                                -Wl,--disable-auto-import,--disable-runtime-pseudo-reloc)
        elseif(windowed)
            # The entry point's symbol, with the underscore of i686 names.
            set(prefix "")
            if(CMAKE_SIZEOF_VOID_P EQUAL 4)
                set(prefix "_")
            endif()
            target_link_options(${target} PRIVATE -Wl,-e,${prefix}RestrictedStartup)
        endif()
    endif()
endfunction()
