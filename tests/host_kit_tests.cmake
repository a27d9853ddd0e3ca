# The host programmer's kit (include/tarvel.h, bindings/pascal): both checked
# against the library's own declarations, and the two sample hosts each run
# once under 32-bit Wine against a simulated meter. The 32-bit Windows build
# only: that is where hosts load the deliverables.
if(NOT WIN32 OR NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
  return()
endif()
enable_language(C)

# A header type that differs from the export fails the build.
add_library(host_kit_header OBJECT host_kit_header.cpp)
target_include_directories(host_kit_header PRIVATE ${PROJECT_SOURCE_DIR}/driver
                           ${PROJECT_SOURCE_DIR}/include)

add_test(NAME host_kit_pascal_imports
         COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/host_kit_test.py imports
                 ${PROJECT_SOURCE_DIR}/driver/exports.h ${PROJECT_SOURCE_DIR}/bindings/pascal/tarvel.pas)

# The samples sit beside the deliverables, where Windows looks for a DLL first.
add_executable(tarvel_sample ${PROJECT_SOURCE_DIR}/include/sample/tarvel_sample.c)
target_include_directories(tarvel_sample PRIVATE ${PROJECT_SOURCE_DIR}/include)
set_target_properties(tarvel_sample PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
set(host_kit_samples "c;3;$<TARGET_FILE:tarvel_sample>")

# Free Pascal for i386-win32, from scripts/fpc-win32.sh (scripts/test.sh
# passes it, or says SKIPPED where it cannot be built). The unit is compiled
# in its static form too, which the sample does not use.
set(TARVEL_FPC "" CACHE FILEPATH "Free Pascal cross compiler for i386-win32, for the Pascal sample")
if(TARVEL_FPC)
  set(pascal_dir ${PROJECT_SOURCE_DIR}/bindings/pascal)
  set(pascal_units ${CMAKE_CURRENT_BINARY_DIR}/pascal)
  set(pascal_sample ${CMAKE_BINARY_DIR}/tarvelsample.exe)
  set(pascal_options -Sewnh -vwnh)
  add_custom_command(
    OUTPUT ${pascal_sample}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${pascal_units}/static
    COMMAND ${TARVEL_FPC} ${pascal_options} -dTARVEL_STATIC -FU${pascal_units}/static
            ${pascal_dir}/tarvel.pas
    COMMAND ${TARVEL_FPC} ${pascal_options} -FU${pascal_units} -FE${CMAKE_BINARY_DIR}
            -Fu${pascal_dir} ${pascal_dir}/sample/tarvelsample.dpr
    DEPENDS ${pascal_dir}/tarvel.pas ${pascal_dir}/sample/tarvelsample.dpr
    COMMENT "Building the Pascal sample host" VERBATIM)
  add_custom_target(tarvelsample ALL DEPENDS ${pascal_sample})
  list(APPEND host_kit_samples "pascal;2;${pascal_sample}")
endif()

if(NOT TARVEL_WINE_TESTS)
  return()
endif()
# Each on a port of its own, so that a sample loading the wrong DLL reads
# no meter.
while(host_kit_samples)
  list(POP_FRONT host_kit_samples language port program)
  add_test(NAME host_kit_${language}_sample
           COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/host_kit_test.py sample ${port}
                   ${TARVEL_METERSIM} ${WINE_PREFIX} ${CMAKE_CROSSCOMPILING_EMULATOR} ${program})
  set_tests_properties(host_kit_${language}_sample PROPERTIES ENVIRONMENT WINEPREFIX=${WINE_PREFIX}
                       RESOURCE_LOCK wine_dosdevices TIMEOUT 120)
endwhile()
