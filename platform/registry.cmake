# The registry store lives in SQLite.
pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)
target_link_libraries(vtx_platform PRIVATE PkgConfig::SQLITE3)
