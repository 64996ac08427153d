# One simulation tick for 1 to 24 links, next to Orocos KDL's forward step for the same arm, and
# for the sample arms of examples/; the tick of arms from URDF files with their defaults next to
# MuJoCo's step on the same files.
find_package(orocos_kdl REQUIRED)
# Debian's MuJoCo package config names an include folder of a package it does not depend on;
# the library and its header are found directly instead.
find_path(MUJOCO_INCLUDE_DIR mujoco/mujoco.h REQUIRED)
find_library(MUJOCO_LIBRARY mujoco REQUIRED)

add_executable(dynamics_bench dynamics_bench.cpp)
target_link_libraries(dynamics_bench PRIVATE velmoth_simulation velmoth_urdf benchmark::benchmark
                      ${orocos_kdl_LIBRARIES} ${MUJOCO_LIBRARY})
target_compile_definitions(dynamics_bench PRIVATE VELMOTH_EXAMPLES="${PROJECT_SOURCE_DIR}/examples"
                           VELMOTH_URDF_TESTS="${PROJECT_SOURCE_DIR}/tests/urdf")
target_include_directories(dynamics_bench SYSTEM PRIVATE ${orocos_kdl_INCLUDE_DIRS} ${MUJOCO_INCLUDE_DIR})
# KDL's library was built trusting malloc's 16-byte alignment; Eigen's headers stop trusting it
# under AddressSanitizer, and would then free KDL's vectors (in KDL's inline destructors) as if
# they had been allocated with Eigen's own alignment offset. Both sides must make one choice.
target_compile_definitions(dynamics_bench PRIVATE EIGEN_MALLOC_ALREADY_ALIGNED=1)

if(VELMOTH_BUILD_TESTS)
  add_test(NAME dynamics_bench_smoke COMMAND dynamics_bench --benchmark_min_time=0.001)
endif()
