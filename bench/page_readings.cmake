# The host's search for the page's tags is measured beside the module's check.
target_link_libraries(${HX_BENCH_TARGET} PRIVATE hxhost_lib)
