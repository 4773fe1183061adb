# The window's figures (run-window.sh): its run against a bare libcurl loop on
# its in-process bundled service, and import, statistics and save as.
if(TARGET teloria_ui)
  add_executable(window_run_bench ${CMAKE_CURRENT_LIST_DIR}/window_run_bench.cpp)
  target_link_libraries(window_run_bench PRIVATE teloria_ui teloria_service Qt6::Widgets CURL::libcurl)
  pkg_check_modules(XLSXWRITER_FOR_BENCH REQUIRED IMPORTED_TARGET xlsxwriter)
  add_executable(window_tools_bench ${CMAKE_CURRENT_LIST_DIR}/window_tools_bench.cpp)
  target_link_libraries(window_tools_bench PRIVATE teloria_ui Qt6::Widgets CURL::libcurl PkgConfig::XLSXWRITER_FOR_BENCH)
endif()
