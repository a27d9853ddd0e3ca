# x64/ of the release package: the deliverables for 64-bit hosts, the same
# ports as the 32-bit ones beside them, and a 64-bit tarvel-probe.exe, from
# the 64-bit Windows build tree named by TARVEL_WIN64_BUILD (scripts/test.sh
# builds it first and names it). At install time that tree is brought up to
# date, so the zip never carries x64 files older than these sources; without
# it there is no package: a zip without x64/ leaves 64-bit hosts nothing.
set(TARVEL_WIN64_BUILD "" CACHE PATH
    "64-bit Windows build tree whose DLLs and probe the release package carries in x64/")

if(NOT TARVEL_WIN64_BUILD)
  message(STATUS "TARVEL_WIN64_BUILD is not set: no release package (its x64/ would be empty)")
  install(CODE "message(FATAL_ERROR \"The release package needs the 64-bit DLLs for x64/: \"
                \"configure this tree with -DTARVEL_WIN64_BUILD=<the 64-bit Windows build tree> \"
                \"(scripts/test.sh does)\")")
  return()
endif()

set(x64_targets tarvel_1 tarvel_2 tarvel_3 tarvel_4 tarvel_5 tarvel-probe)
set(x64_top tarvel_1.dll tarvel_2.dll tarvel_3.dll tarvel_4.dll tarvel_5.dll tarvel-probe.exe)
set(x64_more "")
foreach(port ${TARVEL_EXTRA_PORTS})
  list(APPEND x64_targets tarvel_${port})
  list(APPEND x64_more ${TARVEL_WIN64_BUILD}/more-ports/tarvel_${port}.dll)
endforeach()
list(TRANSFORM x64_top PREPEND ${TARVEL_WIN64_BUILD}/)
install(CODE "execute_process(COMMAND \"${CMAKE_COMMAND}\" --build \"${TARVEL_WIN64_BUILD}\"
                                      --target ${x64_targets}
                              RESULT_VARIABLE failed)
              if(failed)
                message(FATAL_ERROR \"x64/: the 64-bit build in ${TARVEL_WIN64_BUILD} failed \"
                                    \"(its further ports must include ${TARVEL_EXTRA_PORTS})\")
              endif()")
install(FILES ${x64_top} DESTINATION x64)
if(x64_more)
  install(FILES ${x64_more} DESTINATION x64/more-ports)
endif()
