# preview_bench: the main window's preview panel offscreen.
target_link_libraries(preview_bench PRIVATE pictor_app_forms)
