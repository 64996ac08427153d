# Loading URDF files: a sample and generated chains of up to 100 moving joints.
add_executable(urdf_bench urdf_bench.cpp)
target_link_libraries(urdf_bench PRIVATE velmoth_urdf velmoth_visuals benchmark::benchmark)
target_compile_definitions(urdf_bench PRIVATE VELMOTH_EXAMPLES="${PROJECT_SOURCE_DIR}/examples")

if(VELMOTH_BUILD_TESTS)
  add_test(NAME urdf_bench_smoke COMMAND urdf_bench --benchmark_min_time=0.001)
endif()
