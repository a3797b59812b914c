# Filter definitions; included from the top level until engine/currency has its own library.
add_library(vtx_filterdef STATIC ${CMAKE_CURRENT_LIST_DIR}/filterdef.cpp)
target_link_libraries(vtx_filterdef PUBLIC vtx_foundation)
