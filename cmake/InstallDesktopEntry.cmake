# Part of the install (see Packaging.cmake): writes the installed program's
# absolute path into the installed desktop entry's Exec and TryExec. Given
# TERVOLO_DESKTOP_ENTRY (relative to the prefix) and TERVOLO_PACKAGE_PREFIX.

set(tervolo_prefix "${CMAKE_INSTALL_PREFIX}")
# CPack installs into a staging folder that stands for the package's prefix.
if(tervolo_prefix MATCHES "/_CPack_Packages/")
  set(tervolo_prefix "${TERVOLO_PACKAGE_PREFIX}")
endif()
set(tervolo_program "${tervolo_prefix}/bin/TervoloNG")

# Exec quotes an argument with reserved characters and escapes ", `, $ and \
# inside the quotes; the file's own escaping then doubles every backslash.
set(tervolo_exec "${tervolo_program}")
if(tervolo_exec MATCHES "[^-A-Za-z0-9_./+]")
  string(REGEX REPLACE "([\"`$\\])" "\\\\\\1" tervolo_exec "${tervolo_exec}")
  set(tervolo_exec "\"${tervolo_exec}\"")
endif()
string(REPLACE "\\" "\\\\" tervolo_exec "${tervolo_exec}")
string(REPLACE "\\" "\\\\" tervolo_try_exec "${tervolo_program}")

set(tervolo_entry "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${TERVOLO_DESKTOP_ENTRY}")
file(READ "${tervolo_entry}" tervolo_text)
string(REPLACE "\nExec=TervoloNG " "\nExec=${tervolo_exec} " tervolo_text "${tervolo_text}")
string(REPLACE "\nTryExec=TervoloNG\n" "\nTryExec=${tervolo_try_exec}\n" tervolo_text "${tervolo_text}")
file(WRITE "${tervolo_entry}" "${tervolo_text}")
message(STATUS "Desktop entry: ${tervolo_entry} starts ${tervolo_program}")
