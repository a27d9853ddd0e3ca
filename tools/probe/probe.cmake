# tarvel-probe, the line check for the lab, built beside the deliverables in
# every build (Windows and Linux).
function(tarvel_probe target output_dir)
  add_executable(${target} ${PROJECT_SOURCE_DIR}/tools/probe/probe.cpp
                 ${PROJECT_SOURCE_DIR}/tools/probe/probe_host.cpp
                 ${PROJECT_SOURCE_DIR}/tools/probe/probe_text.cpp)
  target_link_libraries(${target} PRIVATE ${CMAKE_DL_LIBS})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME tarvel-probe
                        RUNTIME_OUTPUT_DIRECTORY ${output_dir})
endfunction()

tarvel_probe(tarvel-probe ${CMAKE_BINARY_DIR})
