# The service layer reports to systemd through libsystemd's notification call.
pkg_check_modules(LIBSYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
target_link_libraries(vtx_platform PUBLIC PkgConfig::LIBSYSTEMD)
