# tarvel-probe, the line check for the lab, built beside the deliverables in
# every build (Windows and Linux), from C-style C++ compiled as the
# deliverables are (TARVEL_LIBRARY_FLAGS) and linked as C: no C++ runtime.

# Loading a deliverable and the clock, shared with the benchmark's host.
add_library(probe_host OBJECT ${PROJECT_SOURCE_DIR}/tools/probe/probe_host.cpp
            ${PROJECT_SOURCE_DIR}/tools/probe/probe_clock.cpp)
target_include_directories(probe_host PUBLIC ${PROJECT_SOURCE_DIR}/tools/probe)
target_compile_options(probe_host PRIVATE ${TARVEL_LIBRARY_FLAGS})
# 64-bit directory offsets on i686 Linux too: under qemu-i386 on ext4, whose
# offsets are 64-bit hashes, readdir of 32-bit offsets fails (EOVERFLOW) and
# the scan would see no file.
if(NOT WIN32)
  target_compile_definitions(probe_host PRIVATE _FILE_OFFSET_BITS=64)
endif()
target_link_libraries(probe_host PUBLIC ${CMAKE_DL_LIBS})

# Windows: as the DLLs, no C runtime start-up and no default libraries: the
# program's own entry point (probe_start.cpp), msvcrt.dll for stdio, files
# and time, mingw-w64's static printf and strtod (libmingwex, on msvcrt.dll;
# what the probe always printed with), libgcc for 64-bit division and stack
# probes; symbols stripped. No start-up code means nothing would apply the
# pseudo-relocations of auto-imported data, so there must be none.
if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(probe_entry _ProbeStart)
  else()
    set(probe_entry ProbeStart)
  endif()
  set(TARVEL_PROBE_LINK -nostdlib -Wl,--entry,${probe_entry} -Wl,--disable-runtime-pseudo-reloc -s)
  set(TARVEL_PROBE_LIBS mingwex msvcrt kernel32 gcc)
endif()

function(tarvel_probe target output_dir)
  add_executable(${target} ${PROJECT_SOURCE_DIR}/tools/probe/probe_start.cpp
                 ${PROJECT_SOURCE_DIR}/tools/probe/probe.cpp
                 ${PROJECT_SOURCE_DIR}/tools/probe/probe_options.cpp
                 ${PROJECT_SOURCE_DIR}/tools/probe/probe_text.cpp)
  target_compile_options(${target} PRIVATE ${TARVEL_LIBRARY_FLAGS})
  target_link_options(${target} PRIVATE ${TARVEL_PROBE_LINK})
  target_link_libraries(${target} PRIVATE probe_host ${TARVEL_PROBE_LIBS})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME tarvel-probe LINKER_LANGUAGE C
                        RUNTIME_OUTPUT_DIRECTORY ${output_dir})
endfunction()

tarvel_probe(tarvel-probe ${CMAKE_BINARY_DIR})
