# End-to-end speed and memory (run-e2e.sh): a bare libcurl loop as the
# baseline, and the real window driven offscreen.
add_executable(e2e_baseline ${CMAKE_CURRENT_LIST_DIR}/e2e_baseline.cpp)
target_link_libraries(e2e_baseline PRIVATE CURL::libcurl)
target_include_directories(e2e_baseline PRIVATE ${CMAKE_SOURCE_DIR})

if(TARGET teloria_ui)
  add_executable(e2e_window ${CMAKE_CURRENT_LIST_DIR}/e2e_window.cpp)
  target_link_libraries(e2e_window PRIVATE teloria_ui Qt6::Widgets CURL::libcurl)
endif()
