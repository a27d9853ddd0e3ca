# The benchmark's host program: loads a deliverable by path and times its
# readings (bench/run.sh runs it against the simulator).
add_executable(tarvel-bench ${PROJECT_SOURCE_DIR}/bench/bench.cpp)
# The probe's loader and clock (probe_host, tools/probe/probe.cmake), not a copy.
target_link_libraries(tarvel-bench PRIVATE probe_host)
set_target_properties(tarvel-bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# Linux builds: a copy of tarvel_1 whose com1: is benchdev/ttyS0, where
# bench/run.sh links the simulated meter.
if(NOT WIN32)
  tarvel_library(bench_tarvel_1 1 ${CMAKE_BINARY_DIR}/benchdev ${CMAKE_BINARY_DIR}/benchlib)
endif()
