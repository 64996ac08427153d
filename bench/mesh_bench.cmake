# Reading meshes that try to hang or swamp the loader, and what the window does before it opens.
add_executable(mesh_bench mesh_bench.cpp)
target_link_libraries(mesh_bench PRIVATE velmoth_urdf velmoth_visuals benchmark::benchmark)
target_compile_definitions(mesh_bench PRIVATE VELMOTH_EXAMPLES="${PROJECT_SOURCE_DIR}/examples")

if(VELMOTH_BUILD_TESTS)
  add_test(NAME mesh_bench_smoke COMMAND mesh_bench --benchmark_min_time=0.001 --quick)
endif()
