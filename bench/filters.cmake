# Included from bench/CMakeLists.txt: include(${CMAKE_CURRENT_SOURCE_DIR}/filters.cmake)
add_executable(bench_filter_lists ${CMAKE_CURRENT_LIST_DIR}/bench_filter_lists.cpp)
target_link_libraries(bench_filter_lists PRIVATE quillner_gui quillner_warnings)
