# shell_bench: the file-list model.
target_link_libraries(shell_bench PRIVATE pictor_shell)
