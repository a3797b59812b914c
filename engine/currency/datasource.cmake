# Data sources; included from the top level until engine/currency has its own library.
add_library(vtx_datasource STATIC ${CMAKE_CURRENT_LIST_DIR}/datasource.cpp)
target_link_libraries(vtx_datasource PUBLIC vtx_filterdef vtx_foundation)
