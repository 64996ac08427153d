# Paints of the 3-D view at the main window's view size; needs an X display (the test command runs
# under a virtual one).
if(TARGET velmoth_view)
  add_executable(view_bench view_bench.cpp)
  target_link_libraries(view_bench PRIVATE velmoth_view velmoth_urdf velmoth_visuals
                        benchmark::benchmark)
  target_compile_definitions(view_bench PRIVATE VELMOTH_EXAMPLES="${PROJECT_SOURCE_DIR}/examples")
  if(VELMOTH_BUILD_TESTS)
    add_test(NAME view_bench_smoke COMMAND view_bench --benchmark_min_time=0.001)
    # Without the leak check at exit: once in some tens of runs LeakSanitizer's own tracer crashes
    # there ("Tracer caught signal 11") with no other thread left, after every paint succeeded.
    # The window's tests check the view's leaks; the address and undefined-behaviour checks stay.
    if(VELMOTH_SANITIZE)
      set_tests_properties(view_bench_smoke PROPERTIES ENVIRONMENT
                           "ASAN_OPTIONS=detect_leaks=0:abort_on_error=0")
    endif()
  endif()
endif()
