# Windows builds: the release zip holds what a lab needs, and the shipped DLLs
# are reproducible: tarvel_1 is built again in a second tree and must come
# out byte for byte the same (compiled alone, so that it slows no timed test).
if(WIN32)
  add_test(NAME reproducible_build
           COMMAND ${CMAKE_COMMAND} -DSOURCE=${PROJECT_SOURCE_DIR}
                   -DTOOLCHAIN=${CMAKE_TOOLCHAIN_FILE} -DFIRST=$<TARGET_FILE:tarvel_1>
                   -DWORK=${CMAKE_BINARY_DIR}/second-build -P
                   ${CMAKE_CURRENT_SOURCE_DIR}/reproducible.cmake)
  set_tests_properties(reproducible_build PROPERTIES RUN_SERIAL ON TIMEOUT 300)
  add_test(NAME release_package
           COMMAND ${CMAKE_COMMAND} -DBUILD=${CMAKE_BINARY_DIR} -DWORK=${CMAKE_BINARY_DIR}/package-test
                   -DCMAKE_CPACK_COMMAND=${CMAKE_CPACK_COMMAND} -P
                   ${CMAKE_CURRENT_SOURCE_DIR}/package.cmake)
endif()
