# Long runs and bad lines: a soak over five meters with random faults,
# load/unload cycles, and meters unplugged and plugged in again. Natively on
# the test copies of the deliverables; under Wine on the DLLs themselves.
set(TARVEL_SOAK_READINGS 300 CACHE STRING "Readings the soak test takes (SOAK_READINGS)")
set(TARVEL_RELOAD_CYCLES 1000 CACHE STRING "Load/unload cycles of the reload test")

add_executable(reliability_test reliability_test.cpp)
target_link_libraries(reliability_test PRIVATE test_host ${GTEST_LIBS})
if(WIN32)
  target_link_libraries(reliability_test PRIVATE psapi)
  set(meter_places --wine-prefix ${WINE_PREFIX})
  set(meter_lock wine_dosdevices)
  set(test_env WINEPREFIX=${WINE_PREFIX})
  if(NOT TARVEL_WINE_TESTS)
    return()
  endif()
else()
  set(meter_places --link-dir ${TEST_DEVICE_DIR})
  set(meter_lock test_devices)
  set(test_env)
  # Whose memory the reload test would measure, where it is not this
  # process's own: an emulator's cache of translated code, the sanitizers'
  # quarantine of freed memory.
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    set(test_env "RELOAD_MEMORY_OF=the emulator")
  elseif(TARVEL_SANITIZE)
    set(test_env "RELOAD_MEMORY_OF=the sanitizers")
  endif()
endif()

# group, seconds allowed, environment
foreach(entry "Soak;900;SOAK_READINGS=${TARVEL_SOAK_READINGS}"
             "Reload;600;RELOAD_CYCLES=${TARVEL_RELOAD_CYCLES}" "Replug;120;")
  list(GET entry 0 group)
  list(GET entry 1 seconds)
  list(GET entry 2 env)
  string(TOLOWER ${group} name)
  add_test(NAME ${name}_test
           COMMAND ${TARVEL_METERSIM} --com 1,2,3,4,5 ${meter_places} --seed 7 --quiet
                   --run ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:reliability_test>
                   --gtest_filter=${group}.*)
  set_tests_properties(${name}_test PROPERTIES TIMEOUT ${seconds} RESOURCE_LOCK ${meter_lock}
                       ENVIRONMENT "${env};${test_env}")
endforeach()
# The driver tests link the same device places to their own simulator.
set_tests_properties(driver_test PROPERTIES RESOURCE_LOCK ${meter_lock})
