# The prefix store: warm lookups (Google Benchmark) and build time and memory.
add_executable(data_bench ${CMAKE_CURRENT_LIST_DIR}/data_bench.cpp)
target_link_libraries(data_bench PRIVATE teloria_data benchmark::benchmark)
add_executable(data_store_build ${CMAKE_CURRENT_LIST_DIR}/data_store_build.cpp)
target_link_libraries(data_store_build PRIVATE teloria_data)
