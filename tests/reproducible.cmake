# Builds the five standard deliverables and tarvel-probe again in a second
# build tree and checks that each file is byte for byte the one of the first
# build: a build of a given commit must not depend on when or where it ran,
# nor on the deliverables of further ports built beside them (the second tree
# is configured with other TARVEL_EXTRA_PORTS than the first).
#   cmake -DSOURCE=... -DTOOLCHAIN=... -DFIRST=<first build dir> -DEXTRA_PORTS=<ports, by commas>
#         -DWORK=<new dir> -P reproducible.cmake
file(REMOVE_RECURSE ${WORK})
string(REPLACE "," ";" extra "${EXTRA_PORTS}")
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK} -G Ninja
                        -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DTARVEL_TESTS=OFF
                        "-DTARVEL_EXTRA_PORTS=${extra}"
                RESULT_VARIABLE failed OUTPUT_QUIET)
set(targets tarvel_1 tarvel_2 tarvel_3 tarvel_4 tarvel_5 tarvel-probe)
if(NOT failed)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK} --target ${targets}
                  RESULT_VARIABLE failed OUTPUT_QUIET)
endif()
if(failed)
  message(FATAL_ERROR "second build failed")
endif()
set(names tarvel_1.dll tarvel_2.dll tarvel_3.dll tarvel_4.dll tarvel_5.dll tarvel-probe.exe)
set(differ "")
foreach(name ${names})
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${FIRST}/${name} ${WORK}/${name}
                  RESULT_VARIABLE differs)
  if(differs)
    list(APPEND differ ${name})
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK})
if(differ)
  message(FATAL_ERROR "${differ} differ between two builds of the same sources "
                      "(further ports: \"${EXTRA_PORTS}\" in the second)")
endif()
message(STATUS "${names}: both builds identical (further ports: \"${EXTRA_PORTS}\" in the second)")
