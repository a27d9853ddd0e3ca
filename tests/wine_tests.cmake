# Windows builds: tests under Wine, in a private prefix that scripts/test.sh
# makes and warms (scripts/wine-prefix) before ctest runs.
set(WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(TARVEL_WINE_TESTS ON CACHE BOOL "Run the tests that need Wine for this target")

# The export table of each deliverable, read from the PE file itself.
foreach(port RANGE 1 5)
  add_test(NAME exports_tarvel_${port}
           COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/check_pe.py
                   ${PROJECT_SOURCE_DIR}/driver/tarvel.def $<TARGET_FILE:tarvel_${port}>)
endforeach()
if(TARVEL_EXTRA_PORTS)
  set(more_ports)
  foreach(port ${TARVEL_EXTRA_PORTS})
    list(APPEND more_ports $<TARGET_FILE:tarvel_${port}>)
  endforeach()
  add_test(NAME exports_more_ports
           COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/check_pe.py
                   ${PROJECT_SOURCE_DIR}/driver/tarvel.def ${more_ports})
endif()

target_compile_definitions(test_host PRIVATE TARVEL_LIBRARY_DIR="${CMAKE_BINARY_DIR}")
add_executable(driver_test driver_test.cpp)
target_link_libraries(driver_test PRIVATE test_host ${GTEST_LIBS})

# 32-bit: every export called through hand-made register and stack layouts
# (abi_thunks.S). Built everywhere, run where Wine runs 32-bit programs.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  enable_language(ASM)
  add_executable(abi_test abi_test.cpp abi_thunks.S)
  target_link_libraries(abi_test PRIVATE test_host ${GTEST_LIBS})
  if(TARVEL_WINE_TESTS)
    add_test(NAME abi_test
             COMMAND ${TARVEL_METERSIM} --com 1 --wine-prefix ${WINE_PREFIX} --quiet
                     --run ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:abi_test>)
    set_tests_properties(abi_test PROPERTIES ENVIRONMENT WINEPREFIX=${WINE_PREFIX}
                                             RESOURCE_LOCK wine_dosdevices)
  endif()
endif()

# 64-bit: every export as a plain call under any MXCSR a host may set, and
# an exception raised in the library caught by the host's own handler.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  enable_language(ASM)
  add_executable(abi64_test abi64_test.cpp)
  add_executable(unwind_test unwind_test.cpp seh_call.S)
  foreach(test abi64_test unwind_test)
    target_link_libraries(${test} PRIVATE test_host ${GTEST_LIBS})
    if(TARVEL_WINE_TESTS)
      add_test(NAME ${test}
               COMMAND ${TARVEL_METERSIM} --com 1 --wine-prefix ${WINE_PREFIX} --quiet
                       --run ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${test}>)
      set_tests_properties(${test} PROPERTIES ENVIRONMENT WINEPREFIX=${WINE_PREFIX}
                                              RESOURCE_LOCK wine_dosdevices)
    endif()
  endforeach()
endif()

if(TARVEL_WINE_TESTS)
  add_test(NAME unit_tests COMMAND unit_tests)
  add_test(NAME driver_test
           COMMAND ${TARVEL_METERSIM} --com 1,2 --wine-prefix ${WINE_PREFIX} --quiet
                   --run ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:driver_test>)
  set_tests_properties(unit_tests driver_test PROPERTIES ENVIRONMENT WINEPREFIX=${WINE_PREFIX})
endif()
