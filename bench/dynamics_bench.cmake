# One simulation tick for 1 to 24 links, next to Orocos KDL's forward step for the same arm, and
# for the sample arms of examples/.
find_package(orocos_kdl REQUIRED)

add_executable(dynamics_bench dynamics_bench.cpp)
target_link_libraries(dynamics_bench PRIVATE velmoth_dynamics velmoth_urdf benchmark::benchmark
                      ${orocos_kdl_LIBRARIES})
target_compile_definitions(dynamics_bench PRIVATE VELMOTH_EXAMPLES="${PROJECT_SOURCE_DIR}/examples")
target_include_directories(dynamics_bench SYSTEM PRIVATE ${orocos_kdl_INCLUDE_DIRS})
# KDL's library was built trusting malloc's 16-byte alignment; Eigen's headers stop trusting it
# under AddressSanitizer, and would then free KDL's vectors (in KDL's inline destructors) as if
# they had been allocated with Eigen's own alignment offset. Both sides must make one choice.
target_compile_definitions(dynamics_bench PRIVATE EIGEN_MALLOC_ALREADY_ALIGNED=1)

if(VELMOTH_BUILD_TESTS)
  add_test(NAME dynamics_bench_smoke COMMAND dynamics_bench --benchmark_min_time=0.001)
endif()
