# Included by every bundled plug-in's CMakeLists.txt (spi/ adds only folders with a
# CMakeLists.txt, so this one is not added on its own). Defines, once:
#   pictor_spi_common         the code the plug-ins share (input, DIB blocks, progress, texts)
#   pictor_spi_plugin(<name>) makes <name>.spi from the MODULE target <name>
include_guard(GLOBAL)

# plugins/spi_abi.h alone: the plug-ins share nothing else with the program.
add_library(spi_abi_headers INTERFACE)
target_include_directories(spi_abi_headers INTERFACE ${CMAKE_SOURCE_DIR}/src)

add_library(pictor_spi_common STATIC ${CMAKE_CURRENT_LIST_DIR}/spi_common.c)
target_include_directories(pictor_spi_common PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(pictor_spi_common PUBLIC spi_abi_headers)
set_target_properties(pictor_spi_common PROPERTIES
    C_STANDARD 11 C_VISIBILITY_PRESET hidden POSITION_INDEPENDENT_CODE ON)

# The plug-in is a shared object beside the program, where the host's program-folder search
# finds it, exporting only the ABI's names. Plug-ins link their own image library and nothing
# of the program. <name>_code is the same source as a static library, for the fuzz targets
# (several plug-ins cannot share one executable: they export the same names).
function(pictor_spi_plugin name)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "" "SOURCES;LIBS")
    add_library(${name} MODULE ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE pictor_spi_common ${ARG_LIBS})
    set_target_properties(${name} PROPERTIES
        PREFIX "" SUFFIX ".spi" OUTPUT_NAME ${name}
        C_STANDARD 11 C_VISIBILITY_PRESET hidden
        LIBRARY_OUTPUT_DIRECTORY ${PICTOR_BIN_DIR})
    if(NOT PICTOR_SANITIZE)
        # Every symbol resolved at link time: a missing library shows here, not at dlopen.
        target_link_options(${name} PRIVATE -Wl,--no-undefined)
    endif()

    add_library(${name}_code STATIC EXCLUDE_FROM_ALL ${ARG_SOURCES})
    target_link_libraries(${name}_code PUBLIC pictor_spi_common ${ARG_LIBS})
    set_target_properties(${name}_code PROPERTIES C_STANDARD 11 C_VISIBILITY_PRESET hidden)
endfunction()
