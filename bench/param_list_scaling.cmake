# Whole requests go through the filter host into the staged module.
target_link_libraries(${HX_BENCH_TARGET} PRIVATE hxhost_lib)
target_compile_definitions(${HX_BENCH_TARGET} PRIVATE HX_BINARY_DIR="${CMAKE_BINARY_DIR}")
add_dependencies(${HX_BENCH_TARGET} stage)
set_target_properties(${HX_BENCH_TARGET} PROPERTIES ENABLE_EXPORTS ON)
