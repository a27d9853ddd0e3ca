# The host programmer's kit (include/tarvel.h, bindings/pascal): both checked
# against the library's own declarations, and the two sample hosts each run
# once against a simulated meter: in the 32-bit Windows build under 32-bit
# Wine, in the 64-bit one, built for x64, under wine64. Windows builds only:
# that is where hosts load the deliverables.
if(NOT WIN32)
  return()
endif()
enable_language(C)

# A header type that differs from the export fails the build.
add_library(host_kit_header OBJECT host_kit_header.cpp)
target_include_directories(host_kit_header PRIVATE ${PROJECT_SOURCE_DIR}/driver
                           ${PROJECT_SOURCE_DIR}/include)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_test(NAME host_kit_pascal_imports
           COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/host_kit_test.py imports
                   ${PROJECT_SOURCE_DIR}/driver/exports.h ${PROJECT_SOURCE_DIR}/bindings/pascal/tarvel.pas)
endif()

# The samples sit beside the deliverables, where Windows looks for a DLL first.
add_executable(tarvel_sample ${PROJECT_SOURCE_DIR}/include/sample/tarvel_sample.c)
target_include_directories(tarvel_sample PRIVATE ${PROJECT_SOURCE_DIR}/include)
set_target_properties(tarvel_sample PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
set(host_kit_samples "c;3;sample;$<TARGET_FILE:tarvel_sample>")

# Free Pascal for this build's Windows, from scripts/fpc-windows.sh
# (scripts/test.sh passes it, or says SKIPPED where it cannot be built). The
# unit is compiled in its static form too, which the sample does not use.
set(TARVEL_FPC "" CACHE FILEPATH
    "Free Pascal compiler for this build's Windows (i386-win32 or x86_64-win64), for the Pascal sample")
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
  # The 64-bit one from a folder laid out as the package's top: the unit
  # must pass over the DLL beside it for x64's.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    list(APPEND host_kit_samples "pascal;2;package-sample;$<TARGET_FILE:tarvel_2>;${pascal_sample}")
  else()
    list(APPEND host_kit_samples "pascal;2;sample;${pascal_sample}")
  endif()
endif()

if(NOT TARVEL_WINE_TESTS)
  return()
endif()
# Each on a port of its own, so that a sample loading the wrong DLL reads
# no meter.
while(host_kit_samples)
  list(POP_FRONT host_kit_samples language port mode)
  set(dll)
  if(mode STREQUAL package-sample)
    list(POP_FRONT host_kit_samples dll)
  endif()
  list(POP_FRONT host_kit_samples program)
  add_test(NAME host_kit_${language}_sample
           COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/host_kit_test.py ${mode} ${port} ${dll}
                   ${TARVEL_METERSIM} ${WINE_PREFIX} ${CMAKE_CROSSCOMPILING_EMULATOR} ${program})
  set_tests_properties(host_kit_${language}_sample PROPERTIES ENVIRONMENT WINEPREFIX=${WINE_PREFIX}
                       RESOURCE_LOCK wine_dosdevices TIMEOUT 120)
endwhile()
