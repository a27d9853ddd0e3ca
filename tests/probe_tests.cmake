# tarvel-probe against the meter simulator on com1:, one test per group of
# cases (tests/probe_test.py). The probe's own meters never meet those of
# the other tests: Linux builds get copies of the probe and the five
# libraries whose comN: devices live in probedev/ (and a tarvel_12 in
# more-ports/); Windows builds run in a Wine prefix of their own, with the
# further ports the build has. The cases share that line, one at a time.
set(PROBE_CASES reads silent usage csv scan stray)
if(NOT WIN32 OR 12 IN_LIST TARVEL_EXTRA_PORTS)
  list(APPEND PROBE_CASES more_ports)
endif()

# A library that loads but is no driver: the probe's own host code, built for
# this target (in a 32-bit Wine prefix, system32 holds 64-bit DLLs, so no
# system DLL would do).
add_library(probe_not_a_driver SHARED ${PROJECT_SOURCE_DIR}/tools/probe/probe_host.cpp)
target_link_libraries(probe_not_a_driver PRIVATE ${CMAKE_DL_LIBS})
set(PROBE_NO_EXPORTS $<TARGET_FILE:probe_not_a_driver>)

if(WIN32)
  # The PE file, wherever the build runs: what it imports, no TLS, its size.
  add_test(NAME pe_tarvel_probe COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/check_pe.py --probe
                                        $<TARGET_FILE:tarvel-probe>)
  if(NOT TARVEL_WINE_TESTS)
    return()
  endif()
  set(PROBE_PREFIX ${CMAKE_BINARY_DIR}/probeprefix)
  set(PROBE_PROGRAM $<TARGET_FILE:tarvel-probe>)
  set(PROBE_LINK --wine-prefix=${PROBE_PREFIX})
  set(PROBE_RUNNER ${CMAKE_CROSSCOMPILING_EMULATOR})
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(prefix_arch --64)
  endif()
  add_test(NAME probe_prefix COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-prefix ${PROBE_PREFIX}
                                     ${prefix_arch})
  add_test(NAME probe_prefix_stop COMMAND /usr/lib/wine/wineserver -k)
  set_tests_properties(probe_prefix PROPERTIES FIXTURES_SETUP probe_prefix
                       ENVIRONMENT WINEPREFIX=${PROBE_PREFIX})
  set_tests_properties(probe_prefix_stop PROPERTIES FIXTURES_CLEANUP probe_prefix
                       ENVIRONMENT WINEPREFIX=${PROBE_PREFIX})
else()
  set(PROBE_DEVICE_DIR ${CMAKE_BINARY_DIR}/probedev)
  set(PROBE_LIBRARY_DIR ${CMAKE_BINARY_DIR}/probelib)
  file(MAKE_DIRECTORY ${PROBE_DEVICE_DIR})
  foreach(port RANGE 1 5)
    tarvel_library(probe_tarvel_${port} ${port} ${PROBE_DEVICE_DIR} ${PROBE_LIBRARY_DIR})
  endforeach()
  tarvel_library(probe_tarvel_12 12 ${PROBE_DEVICE_DIR} ${PROBE_LIBRARY_DIR}/more-ports)
  tarvel_probe(probe_tarvel_probe ${PROBE_LIBRARY_DIR})
  set(PROBE_PROGRAM $<TARGET_FILE:probe_tarvel_probe>)
  set(PROBE_LINK --link-dir=${PROBE_DEVICE_DIR})
  set(PROBE_RUNNER ${CMAKE_CROSSCOMPILING_EMULATOR})
endif()

# The conversion of the driver's texts for a console, on its own.
add_executable(probe_text_test probe_text_test.cpp ${PROJECT_SOURCE_DIR}/tools/probe/probe_text.cpp)
target_include_directories(probe_text_test PRIVATE ${PROJECT_SOURCE_DIR}/tools/probe)
target_link_libraries(probe_text_test PRIVATE ${GTEST_LIBS})
add_test(NAME probe_text COMMAND ${PROBE_RUNNER} $<TARGET_FILE:probe_text_test>)
if(WIN32)
  set_tests_properties(probe_text PROPERTIES FIXTURES_REQUIRED probe_prefix
                       ENVIRONMENT WINEPREFIX=${PROBE_PREFIX})
endif()

foreach(case ${PROBE_CASES})
  add_test(NAME probe_${case}
           COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/probe_test.py ${case} ${PROBE_PROGRAM}
                   ${TARVEL_METERSIM} ${PROBE_LINK} ${PROBE_NO_EXPORTS} ${PROBE_RUNNER})
  set_tests_properties(probe_${case} PROPERTIES RESOURCE_LOCK probe_line TIMEOUT 120)
  if(WIN32)
    set_tests_properties(probe_${case} PROPERTIES FIXTURES_REQUIRED probe_prefix
                         ENVIRONMENT WINEPREFIX=${PROBE_PREFIX})
  endif()
endforeach()
