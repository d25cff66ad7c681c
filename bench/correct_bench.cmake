# correct_bench: the colour correction and blend kernels of the imaging library.
target_link_libraries(${name} PRIVATE pictor_imaging)
