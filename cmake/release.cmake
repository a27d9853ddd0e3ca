# Windows builds: the release package, a zip made by cpack (or the install
# target): the five deliverables, tarvel-probe.exe and the user guide.
install(FILES $<TARGET_FILE:tarvel_1> $<TARGET_FILE:tarvel_2> $<TARGET_FILE:tarvel_3>
              $<TARGET_FILE:tarvel_4> $<TARGET_FILE:tarvel_5> $<TARGET_FILE:tarvel-probe>
              ${PROJECT_SOURCE_DIR}/docs/USER-GUIDE.md
        DESTINATION .)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_SYSTEM_NAME win32)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tarvel)
set(CPACK_PACKAGE_FILE_NAME tarvel-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Driver for the Tacussel Radiometer PHN130T pH meter")
include(CPack)
