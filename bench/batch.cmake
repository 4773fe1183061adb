# The floor for teloria-batch in-process, run beside it by bench/run-batch.sh.
add_executable(batch_reference ${CMAKE_CURRENT_LIST_DIR}/batch_reference.cpp)
target_link_libraries(batch_reference PRIVATE teloria_data)
