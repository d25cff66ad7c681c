# effect_bench: the effect filters of pictor_imaging.
target_link_libraries(effect_bench PRIVATE pictor_imaging)
