# The result file writer: 100,000 rows of Chinese text to a file.
add_executable(export_bench ${CMAKE_CURRENT_LIST_DIR}/export_bench.cpp)
target_link_libraries(export_bench PRIVATE teloria_export benchmark::benchmark)
