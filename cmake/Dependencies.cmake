# Libraries the module and its tests stand on. Each package listed here must
# also be in tools/apt-packages.txt so that a fresh machine installs it.
find_package(Threads REQUIRED)
find_package(GTest REQUIRED)
find_package(benchmark QUIET)

# Libraries linked into the module (appended to by the subsystems).
set(HX_MODULE_LIBS Threads::Threads ${CMAKE_DL_LIBS} rt)

# MSXML documents of the settings files stand on pugixml.
find_package(pugixml CONFIG QUIET)
if(TARGET pugixml::pugixml)
  list(APPEND HX_MODULE_LIBS pugixml::pugixml)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(PUGIXML REQUIRED IMPORTED_TARGET pugixml)
  list(APPEND HX_MODULE_LIBS PkgConfig::PUGIXML)
endif()

# INI files of document-conversion options stand on libinih.
find_path(INIH_INCLUDE_DIR ini.h REQUIRED)
find_library(INIH_LIBRARY inih REQUIRED)
add_library(hx_inih INTERFACE)
target_include_directories(hx_inih INTERFACE ${INIH_INCLUDE_DIR})
target_link_libraries(hx_inih INTERFACE ${INIH_LIBRARY})
list(APPEND HX_MODULE_LIBS hx_inih)

# Code-page conversion stands on ICU's converters.
find_package(ICU REQUIRED COMPONENTS uc)
list(APPEND HX_MODULE_LIBS ICU::uc)

# The staged install tree and hx_stage_file().
include(${CMAKE_CURRENT_LIST_DIR}/Stage.cmake)

# The directory layer stands on OpenLDAP's libldap.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LDAP REQUIRED IMPORTED_TARGET ldap)
list(APPEND HX_MODULE_LIBS PkgConfig::LDAP)
# A refused directory certificate is read with GnuTLS, libldap's own TLS
# library, to say what was wrong with it.
pkg_check_modules(GNUTLS REQUIRED IMPORTED_TARGET gnutls)
list(APPEND HX_MODULE_LIBS PkgConfig::GNUTLS)
