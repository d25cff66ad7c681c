# listview_bench: the file list view offscreen.
target_link_libraries(listview_bench PRIVATE pictor_shell_forms)
