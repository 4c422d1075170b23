# Libraries the module and its tests stand on. Each package listed here must
# also be in tools/apt-packages.txt so that a fresh machine installs it.
find_package(Threads REQUIRED)
find_package(GTest REQUIRED)
find_package(benchmark QUIET)

# Libraries linked into the module (appended to by the subsystems).
set(HX_MODULE_LIBS Threads::Threads ${CMAKE_DL_LIBS} rt)

# The staged install tree and hx_stage_file().
include(${CMAKE_CURRENT_LIST_DIR}/Stage.cmake)
