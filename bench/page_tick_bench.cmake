# The page's tick, natively, to set beside the same tick in WebAssembly (bench/page_bench.mjs).
add_executable(page_tick_bench page_tick_bench.cpp)
target_link_libraries(page_tick_bench PRIVATE velmoth_simulation velmoth_urdf benchmark::benchmark)
target_compile_definitions(page_tick_bench PRIVATE VELMOTH_EXAMPLES="${PROJECT_SOURCE_DIR}/examples")

if(VELMOTH_BUILD_TESTS)
  add_test(NAME page_tick_bench_smoke COMMAND page_tick_bench --benchmark_min_time=0.001)
endif()
