pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(OPENSSL REQUIRED IMPORTED_TARGET openssl)
target_link_libraries(vtx_platform PRIVATE PkgConfig::CURL PkgConfig::OPENSSL)
