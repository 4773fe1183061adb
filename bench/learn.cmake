# Learning from an online lookup service: the cold run against a fake upstream
# and a lookup once learned.
add_executable(learn_bench ${CMAKE_CURRENT_LIST_DIR}/learn_bench.cpp)
target_include_directories(learn_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(learn_bench PRIVATE teloria_service teloria_data teloria_lookup teloria_test_support CURL::libcurl)
target_compile_options(learn_bench PRIVATE -Wno-missing-field-initializers)

# teloria-data learn's walk over 2,000 prefixes on the fake upstream.
add_executable(learn_walk_bench ${CMAKE_CURRENT_LIST_DIR}/learn_walk_bench.cpp)
target_include_directories(learn_walk_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(learn_walk_bench PRIVATE teloria_data teloria_net teloria_test_support CURL::libcurl)
target_compile_options(learn_walk_bench PRIVATE -Wno-missing-field-initializers)
