# Windows builds: the release package, a zip made by cpack (or the install
# target): the five deliverables, tarvel-probe.exe and the user guide at the
# top; the deliverables of further ports (TARVEL_EXTRA_PORTS) in more-ports/;
# the host programmer's kit in kit/, laid out as in the sources so that the
# paths bindings/README.md names hold there too; SHA256SUMS of all of it.
install(FILES $<TARGET_FILE:tarvel_1> $<TARGET_FILE:tarvel_2> $<TARGET_FILE:tarvel_3>
              $<TARGET_FILE:tarvel_4> $<TARGET_FILE:tarvel_5> $<TARGET_FILE:tarvel-probe>
              ${PROJECT_SOURCE_DIR}/docs/USER-GUIDE.md
        DESTINATION .)
foreach(port ${TARVEL_EXTRA_PORTS})
  install(FILES $<TARGET_FILE:tarvel_${port}> DESTINATION more-ports)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/include/tarvel.h DESTINATION kit/include)
install(FILES ${PROJECT_SOURCE_DIR}/include/sample/tarvel_sample.c DESTINATION kit/include/sample)
install(FILES ${PROJECT_SOURCE_DIR}/bindings/README.md DESTINATION kit/bindings)
install(FILES ${PROJECT_SOURCE_DIR}/bindings/pascal/tarvel.pas DESTINATION kit/bindings/pascal)
install(FILES ${PROJECT_SOURCE_DIR}/bindings/pascal/sample/tarvelsample.dpr
        DESTINATION kit/bindings/pascal/sample)
# Last: the checksums of the files installed above.
install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/checksums.cmake)

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
