# The bundled lookup service: one lookup per prefix already seen, the page
# built for a request, and the share of segments the built-in data cover.
add_executable(service_bench ${CMAKE_CURRENT_LIST_DIR}/service_bench.cpp)
target_link_libraries(service_bench PRIVATE teloria_service benchmark::benchmark)
add_executable(service_coverage ${CMAKE_CURRENT_LIST_DIR}/service_coverage.cpp)
target_link_libraries(service_coverage PRIVATE teloria_service)
