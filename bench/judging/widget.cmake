# Widget benchmarks. bench_color_grid needs a QApplication before the first
# benchmark runs, so it has its own main() and links Google Benchmark without
# benchmark_main.
add_executable(bench_color_grid ${CMAKE_CURRENT_LIST_DIR}/bench_color_grid.cpp)
target_link_libraries(bench_color_grid PRIVATE varnex2_judging_widget Qt6::Widgets benchmark::benchmark)
varnex2_defaults(bench_color_grid)
target_include_directories(bench_color_grid PRIVATE ${PROJECT_SOURCE_DIR}/tests)
