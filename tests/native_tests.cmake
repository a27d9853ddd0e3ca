# Linux builds: test copies of the deliverables whose comN: devices are links
# that the simulator makes in the build tree.
set(TEST_DEVICE_DIR ${CMAKE_BINARY_DIR}/testdev)
set(TEST_LIBRARY_DIR ${CMAKE_BINARY_DIR}/testlib)
file(MAKE_DIRECTORY ${TEST_DEVICE_DIR})
foreach(port RANGE 1 5)
  tarvel_library(test_tarvel_${port} ${port} ${TEST_DEVICE_DIR} ${TEST_LIBRARY_DIR})
endforeach()

add_test(NAME unit_tests COMMAND unit_tests)

# The export table and the needed libraries of a shipped library (not of a
# sanitized build, whose runtimes bring their own libraries, libstdc++ too).
if(NOT TARVEL_SANITIZE)
  add_test(NAME exports_tarvel_1
           COMMAND ${CMAKE_COMMAND} -DLIBRARY=$<TARGET_FILE:tarvel_1>
                   -DDEF=${PROJECT_SOURCE_DIR}/driver/tarvel.def -P
                   ${CMAKE_CURRENT_SOURCE_DIR}/check_elf.cmake)
endif()

add_executable(serial_pty_test serial_pty_test.cpp $<TARGET_OBJECTS:ucommw32>)
target_include_directories(serial_pty_test PRIVATE ${PROJECT_SOURCE_DIR}/ucommw32)
target_link_libraries(serial_pty_test PRIVATE ${GTEST_LIBS})
add_test(NAME serial_pty_test COMMAND serial_pty_test)

# The simulator's control-file escapes and reading line, on their own.
add_executable(metersim_text_test metersim_text_test.cpp
               ${PROJECT_SOURCE_DIR}/tools/metersim/meter_control.cpp
               ${PROJECT_SOURCE_DIR}/tools/metersim/meter_replies.cpp
               ${PROJECT_SOURCE_DIR}/tools/metersim/posix_files.cpp
               ${PROJECT_SOURCE_DIR}/tools/metersim/usb_adapter.cpp)
target_include_directories(metersim_text_test PRIVATE ${PROJECT_SOURCE_DIR}/tools/metersim)
target_link_libraries(metersim_text_test PRIVATE ${GTEST_LIBS})
add_test(NAME metersim_text COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:metersim_text_test>)

# When the simulator's loop wakes for a meter's output, on a real pty.
add_executable(metersim_output_test metersim_output_test.cpp
               ${PROJECT_SOURCE_DIR}/tools/metersim/meter_io.cpp
               ${PROJECT_SOURCE_DIR}/tools/metersim/meter_pty.cpp
               ${PROJECT_SOURCE_DIR}/tools/metersim/meter_control.cpp
               ${PROJECT_SOURCE_DIR}/tools/metersim/meter_replies.cpp
               ${PROJECT_SOURCE_DIR}/tools/metersim/posix_files.cpp
               ${PROJECT_SOURCE_DIR}/tools/metersim/usb_adapter.cpp)
target_include_directories(metersim_output_test PRIVATE ${PROJECT_SOURCE_DIR}/tools/metersim)
target_link_libraries(metersim_output_test PRIVATE ${GTEST_LIBS})
add_test(NAME metersim_output
         COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:metersim_output_test>)

target_compile_definitions(test_host PRIVATE TARVEL_LIBRARY_DIR="${TEST_LIBRARY_DIR}")
add_executable(driver_test driver_test.cpp)
target_link_libraries(driver_test PRIVATE test_host ${GTEST_LIBS})
add_test(NAME driver_test
         COMMAND ${TARVEL_METERSIM} --com 1,2 --link-dir ${TEST_DEVICE_DIR} --quiet
                 --run ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:driver_test>)

# x86-64: every export as a plain call under any MXCSR a host may set.
if(CMAKE_SIZEOF_VOID_P EQUAL 8 AND CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
  add_executable(abi64_test abi64_test.cpp)
  target_link_libraries(abi64_test PRIVATE test_host ${GTEST_LIBS})
  add_test(NAME abi64_test
           COMMAND ${TARVEL_METERSIM} --com 1 --link-dir ${TEST_DEVICE_DIR} --quiet
                   --run ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:abi64_test>)
  set_tests_properties(abi64_test PROPERTIES RESOURCE_LOCK test_devices)
endif()
# The user guide's Python example as a 64-bit Python runs it (Python loads
# no sanitized library).
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64" AND NOT CMAKE_CROSSCOMPILING AND NOT TARVEL_SANITIZE)
  add_test(NAME guide_python_example
           COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/guide_example_test.py
                   ${PROJECT_SOURCE_DIR}/docs/USER-GUIDE.md $<TARGET_FILE:test_tarvel_1>
                   ${TARVEL_METERSIM} ${TEST_DEVICE_DIR})
  set_tests_properties(guide_python_example PROPERTIES RESOURCE_LOCK test_devices)
endif()

# 32-bit x86: every export called through hand-made register and stack
# layouts (abi_thunks.S), checking what each leaves its host.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  enable_language(ASM)
  add_executable(abi_test abi_test.cpp abi_thunks.S)
  target_link_libraries(abi_test PRIVATE test_host ${GTEST_LIBS})
  add_test(NAME abi_test
           COMMAND ${TARVEL_METERSIM} --com 1 --link-dir ${TEST_DEVICE_DIR} --quiet
                   --run ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:abi_test>)
  # Its simulator links the same device places as every other meter test.
  set_tests_properties(abi_test PROPERTIES RESOURCE_LOCK test_devices)
endif()
