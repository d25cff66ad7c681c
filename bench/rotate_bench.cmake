# rotate_bench: RotateBitmap of pictor_imaging, BMP files through pictor_core.
target_link_libraries(rotate_bench PRIVATE pictor_imaging)
