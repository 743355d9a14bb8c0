# The product's version is written once, in project() of the top
# CMakeLists.txt. Everything that shows it is made from it here, into
# QV_GENERATED_DIR: product_version.h (the uninstall entry's
# "DisplayVersion", the version resources and the wizard's texts), the two
# manifests and the licence text. Targets that need them link qv_version.
# (The payload's own NAME.in files are filled in where it is staged.)
set(QV_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
set(QV_VERSION_TEXT ${PROJECT_VERSION})
set(QV_VERSION_NUMBERS ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR})
foreach(part PATCH TWEAK)
    if(PROJECT_VERSION_${part} STREQUAL "")
        list(APPEND QV_VERSION_NUMBERS 0)
    else()
        list(APPEND QV_VERSION_NUMBERS ${PROJECT_VERSION_${part}})
    endif()
endforeach()
list(JOIN QV_VERSION_NUMBERS "." QV_VERSION_QUAD)
list(JOIN QV_VERSION_NUMBERS "," QV_VERSION_COMMAS)
configure_file(${PROJECT_SOURCE_DIR}/resources/product_version.h.in
               ${QV_GENERATED_DIR}/product_version.h @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/resources/setup.manifest.in
               ${QV_GENERATED_DIR}/setup.manifest @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/payload/remove/remove.manifest.in
               ${QV_GENERATED_DIR}/remove.manifest @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/resources/licence.rtf.in
               ${QV_GENERATED_DIR}/licence.rtf @ONLY)
add_library(qv_version INTERFACE)
target_include_directories(qv_version INTERFACE ${QV_GENERATED_DIR})
