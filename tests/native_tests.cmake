# Linux builds: test copies of the deliverables whose comN: devices are links
# that the simulator makes in the build tree.
set(TEST_DEVICE_DIR ${CMAKE_BINARY_DIR}/testdev)
set(TEST_LIBRARY_DIR ${CMAKE_BINARY_DIR}/testlib)
file(MAKE_DIRECTORY ${TEST_DEVICE_DIR})
foreach(port RANGE 1 5)
  tarvel_library(test_tarvel_${port} ${port} ${TEST_DEVICE_DIR} ${TEST_LIBRARY_DIR})
endforeach()

add_test(NAME unit_tests COMMAND unit_tests)

add_executable(serial_pty_test serial_pty_test.cpp $<TARGET_OBJECTS:ucommw32>)
target_include_directories(serial_pty_test PRIVATE ${PROJECT_SOURCE_DIR}/ucommw32)
target_link_libraries(serial_pty_test PRIVATE ${GTEST_LIBS})
add_test(NAME serial_pty_test COMMAND serial_pty_test)

target_compile_definitions(test_host PRIVATE TARVEL_LIBRARY_DIR="${TEST_LIBRARY_DIR}")
add_executable(driver_test driver_test.cpp)
target_link_libraries(driver_test PRIVATE test_host ${GTEST_LIBS})
add_test(NAME driver_test
         COMMAND ${TARVEL_METERSIM} --com 1,2 --link-dir ${TEST_DEVICE_DIR} --quiet
                 --run ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:driver_test>)
