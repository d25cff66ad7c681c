# lha_bench: our LHA writer; libarchive is not needed (sizes come from our own header scan).
target_link_libraries(lha_bench PRIVATE pictor_lha)
get_filename_component(_lha_bench_testdata ${CMAKE_SOURCE_DIR}/../shared/testdata ABSOLUTE)
target_compile_definitions(lha_bench PRIVATE PICTOR_BENCH_TESTDATA="${_lha_bench_testdata}")
