# Makes the release zip in a scratch directory and checks what it holds:
# exactly the files a lab gets, and a SHA256SUMS naming every other file
# once, with its hash.
#   cmake -DBUILD=<build dir> -DWORK=<scratch dir> -DEXTRA_PORTS=<ports, by commas> -P package.cmake
cmake_policy(VERSION 3.20)
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_CPACK_COMMAND} --config ${BUILD}/CPackConfig.cmake -B ${WORK}
                RESULT_VARIABLE failed OUTPUT_QUIET)
file(GLOB zips ${WORK}/tarvel-*.zip)
list(LENGTH zips count)
if(failed OR NOT count EQUAL 1)
  message(FATAL_ERROR "cpack made no zip")
endif()
file(MAKE_DIRECTORY ${WORK}/unpacked)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${zips} WORKING_DIRECTORY ${WORK}/unpacked)
string(REGEX REPLACE "\\.zip$" "" top "${zips}")
get_filename_component(top ${top} NAME)
set(root ${WORK}/unpacked/${top})

set(expected SHA256SUMS tarvel_1.dll tarvel_2.dll tarvel_3.dll tarvel_4.dll tarvel_5.dll
             tarvel-probe.exe USER-GUIDE.md kit/include/tarvel.h kit/include/sample/tarvel_sample.c
             kit/bindings/README.md kit/bindings/pascal/tarvel.pas
             kit/bindings/pascal/sample/tarvelsample.dpr)
string(REPLACE "," ";" extra "${EXTRA_PORTS}")
foreach(port ${extra})
  list(APPEND expected more-ports/tarvel_${port}.dll)
endforeach()
file(GLOB_RECURSE files RELATIVE ${root} ${root}/*)
list(SORT files)
list(SORT expected)
if(NOT files STREQUAL expected)
  message(FATAL_ERROR "${top}.zip holds\n  ${files}\ninstead of\n  ${expected}")
endif()

# SHA256SUMS, as sha256sum -c reads it: "<hash>  <path>" per line.
file(STRINGS ${root}/SHA256SUMS sums)
set(listed "")
foreach(line ${sums})
  if(NOT line MATCHES "^([0-9a-f]+)  (.+)$")
    message(FATAL_ERROR "SHA256SUMS: not a sha256sum line: ${line}")
  endif()
  set(path ${CMAKE_MATCH_2})
  set(hash ${CMAKE_MATCH_1})
  if(NOT EXISTS ${root}/${path} OR path IN_LIST listed)
    message(FATAL_ERROR "SHA256SUMS: ${path} is no file of the zip, or listed twice")
  endif()
  file(SHA256 ${root}/${path} actual)
  if(NOT hash STREQUAL actual)
    message(FATAL_ERROR "SHA256SUMS: wrong hash for ${path}")
  endif()
  list(APPEND listed ${path})
endforeach()
list(REMOVE_ITEM files SHA256SUMS)
list(SORT listed)
if(NOT listed STREQUAL files)
  message(FATAL_ERROR "SHA256SUMS lists\n  ${listed}\ninstead of\n  ${files}")
endif()
file(REMOVE_RECURSE ${WORK})
message(STATUS "${top}.zip holds ${expected}, SHA256SUMS right for each")
