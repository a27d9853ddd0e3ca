# Install step of the release package: writes SHA256SUMS at the top of the
# installed tree, one line per file installed before it, in the format of
# sha256sum (hash, two spaces, path from the top with forward slashes),
# sorted by path, so that `sha256sum -c SHA256SUMS` checks an unpacked zip and
# two builds of one commit give the same file. The manifest names the files
# under the prefix; with DESTDIR they lie below it.
set(lines "")
foreach(file ${CMAKE_INSTALL_MANIFEST_FILES})
  file(RELATIVE_PATH path "${CMAKE_INSTALL_PREFIX}" "${file}")
  if(path MATCHES "^\\.\\./" OR path STREQUAL "SHA256SUMS")
    message(FATAL_ERROR "SHA256SUMS: ${file} is not a file of ${CMAKE_INSTALL_PREFIX}")
  endif()
  file(SHA256 "$ENV{DESTDIR}${file}" hash)
  list(APPEND lines "${path}\t${hash}")
endforeach()
list(SORT lines)
set(sums "")
foreach(line ${lines})
  string(REPLACE "\t" ";" fields "${line}")
  list(GET fields 0 path)
  list(GET fields 1 hash)
  string(APPEND sums "${hash}  ${path}\n")
endforeach()
message(STATUS "Installing: $ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/SHA256SUMS")
file(WRITE "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/SHA256SUMS" "${sums}")
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_PREFIX}/SHA256SUMS")
