# The real dialog under a display: how well the tick keeps pace with the wall clock, and what a
# tick and a paint cost. A plain program; it needs a display (Xvfb will do).
if(VELMOTH_BUILD_GUI)
  add_executable(dialog_bench dialog_bench.cpp)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  target_link_libraries(dialog_bench PRIVATE velmoth_app velmoth_urdf velmoth_visuals Qt6::Test)
  if(VELMOTH_BUILD_TESTS)
    add_test(NAME dialog_bench_smoke COMMAND dialog_bench --seconds 0.5)
  endif()
endif()
