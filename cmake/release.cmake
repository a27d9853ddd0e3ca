# The 32-bit Windows build: the release package, a zip made by cpack (or the
# install target): the five deliverables, tarvel-probe.exe and the user guide
# at the top; the deliverables of further ports (TARVEL_EXTRA_PORTS) in
# more-ports/; the same for 64-bit hosts in x64/ and x64/more-ports/, taken
# from the 64-bit Windows build tree TARVEL_WIN64_BUILD; the host programmer's
# kit in kit/, laid out as in the sources so that the paths bindings/README.md
# names hold there too; SHA256SUMS of all of it.
install(FILES $<TARGET_FILE:tarvel_1> $<TARGET_FILE:tarvel_2> $<TARGET_FILE:tarvel_3>
              $<TARGET_FILE:tarvel_4> $<TARGET_FILE:tarvel_5> $<TARGET_FILE:tarvel-probe>
              ${PROJECT_SOURCE_DIR}/docs/USER-GUIDE.md
        DESTINATION .)
foreach(port ${TARVEL_EXTRA_PORTS})
  install(FILES $<TARGET_FILE:tarvel_${port}> DESTINATION more-ports)
endforeach()
include(${CMAKE_CURRENT_LIST_DIR}/release-x64.cmake)
install(FILES ${PROJECT_SOURCE_DIR}/include/tarvel.h DESTINATION kit/include)
install(FILES ${PROJECT_SOURCE_DIR}/include/sample/tarvel_sample.c DESTINATION kit/include/sample)
install(FILES ${PROJECT_SOURCE_DIR}/bindings/README.md DESTINATION kit/bindings)
install(FILES ${PROJECT_SOURCE_DIR}/bindings/pascal/tarvel.pas DESTINATION kit/bindings/pascal)
install(FILES ${PROJECT_SOURCE_DIR}/bindings/pascal/sample/tarvelsample.dpr
        DESTINATION kit/bindings/pascal/sample)
# Last: the checksums of the files installed above.
install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/checksums.cmake)

set(CPACK_SYSTEM_NAME win32)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tarvel)
set(CPACK_PACKAGE_FILE_NAME tarvel-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Driver for the Tacussel Radiometer PHN130T pH meter")
include(CPack)
