# The parser benchmark compares against libxml2's HTML parser; only the
# benchmark links it, never the module.
find_package(LibXml2 REQUIRED)
target_link_libraries(${HX_BENCH_TARGET} PRIVATE LibXml2::LibXml2)
