# The benchmark's host program: loads a deliverable by path and times its
# readings (bench/run.sh runs it against the simulator).
add_executable(tarvel-bench ${PROJECT_SOURCE_DIR}/bench/bench.cpp
               ${PROJECT_SOURCE_DIR}/tools/probe/probe_host.cpp)
target_include_directories(tarvel-bench PRIVATE ${PROJECT_SOURCE_DIR}/tools/probe)
target_link_libraries(tarvel-bench PRIVATE ${CMAKE_DL_LIBS})
set_target_properties(tarvel-bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# Linux builds: a copy of tarvel_1 whose com1: is benchdev/ttyS0, where
# bench/run.sh links the simulated meter.
if(NOT WIN32)
  tarvel_library(bench_tarvel_1 1 ${CMAKE_BINARY_DIR}/benchdev ${CMAKE_BINARY_DIR}/benchlib)
endif()
