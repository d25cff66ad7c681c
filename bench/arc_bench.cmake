# arc_bench: extraction through the archiver libraries' command function against bsdtar -x.
target_link_libraries(${name} PRIVATE pictor_archiver)
