# Builds deliverable tarvel_1 again in a second build tree and checks that the
# file is byte for byte the one of the first build: a build of a given commit
# must not depend on when or where it ran.
#   cmake -DSOURCE=... -DTOOLCHAIN=... -DFIRST=<built DLL> -DWORK=<new dir> -P reproducible.cmake
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK} -G Ninja
                        -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DTARVEL_TESTS=OFF
                RESULT_VARIABLE failed OUTPUT_QUIET)
if(NOT failed)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK} --target tarvel_1
                  RESULT_VARIABLE failed OUTPUT_QUIET)
endif()
if(failed)
  message(FATAL_ERROR "second build failed")
endif()
get_filename_component(name ${FIRST} NAME)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${FIRST} ${WORK}/${name}
                RESULT_VARIABLE differs)
file(REMOVE_RECURSE ${WORK})
if(differs)
  message(FATAL_ERROR "${name} differs between two builds of the same sources")
endif()
message(STATUS "${name}: both builds identical")
