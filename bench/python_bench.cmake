# The Python module's cost next to the C++ tick it calls: a run from Python per tick, and a call of
# step() from a Python loop, in an interpreter embedded in the benchmark.
if(NOT VELMOTH_BUILD_PYTHON)
  return()
endif()
# The interpreter of python/CMakeLists.txt (Python_EXECUTABLE), found again in this directory.
set(PYBIND11_FINDPYTHON ON)
find_package(Python 3.9 REQUIRED COMPONENTS Interpreter Development.Embed)
find_package(pybind11 2.10 CONFIG REQUIRED)
add_executable(python_bench python_bench.cpp)
target_link_libraries(python_bench PRIVATE velmoth_simulation velmoth_urdf benchmark::benchmark
                      pybind11::embed)
target_compile_definitions(python_bench PRIVATE
  VELMOTH_EXAMPLES="${PROJECT_SOURCE_DIR}/examples"
  VELMOTH_PYTHON_MODULE_DIR="$<TARGET_FILE_DIR:velmoth_python>")
add_dependencies(python_bench velmoth_python)

if(VELMOTH_BUILD_TESTS)
  add_test(NAME python_bench_smoke COMMAND python_bench --benchmark_min_time=0.001)
endif()
