# png_road_bench: libpng for the direct decode and for writing the test pictures; the bundled
# plug-ins built beside the program, where the benchmark's registry searches.
find_package(PNG REQUIRED)
target_link_libraries(png_road_bench PRIVATE PNG::PNG)
target_compile_definitions(png_road_bench PRIVATE PICTOR_BUNDLED_SPI_DIR="${PICTOR_BIN_DIR}")
if(TARGET ifpng)
    add_dependencies(png_road_bench ifpng iftiff ifwebp)
endif()
