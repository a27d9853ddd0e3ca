# Windows builds: the shipped files are reproducible: in each Windows tree
# (32-bit: the top of the zip; 64-bit: its x64/) the five standard
# deliverables and the probe are built again in a second tree, with other
# further ports than this one (none when this tree has some), and must come
# out byte for byte the same (compiled alone, so that it slows no timed
# test). And the release zip holds what a lab needs.
if(WIN32)
  if(TARVEL_EXTRA_PORTS)
    set(second_extra_ports "")
  else()
    set(second_extra_ports 12)
  endif()
  add_test(NAME reproducible_build
           COMMAND ${CMAKE_COMMAND} -DSOURCE=${PROJECT_SOURCE_DIR}
                   -DTOOLCHAIN=${CMAKE_TOOLCHAIN_FILE} -DFIRST=${CMAKE_BINARY_DIR}
                   -DEXTRA_PORTS=${second_extra_ports} -DWORK=${CMAKE_BINARY_DIR}/second-build -P
                   ${CMAKE_CURRENT_SOURCE_DIR}/reproducible.cmake)
  set_tests_properties(reproducible_build PROPERTIES RUN_SERIAL ON TIMEOUT 300)
endif()
# The zip comes from the 32-bit build, its x64/ from the 64-bit one.
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  list(JOIN TARVEL_EXTRA_PORTS "," extra_ports)
  add_test(NAME release_package
           COMMAND ${CMAKE_COMMAND} -DBUILD=${CMAKE_BINARY_DIR} -DWORK=${CMAKE_BINARY_DIR}/package-test
                   -DCMAKE_CPACK_COMMAND=${CMAKE_CPACK_COMMAND} -DEXTRA_PORTS=${extra_ports} -P
                   ${CMAKE_CURRENT_SOURCE_DIR}/package.cmake)
endif()
