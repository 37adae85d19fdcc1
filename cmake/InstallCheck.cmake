# Installs the build in BUILD_DIR into the empty prefix PREFIX, checks that
# the programs, the desktop entry and the icon are there, and runs each
# program's --help from the prefix, outside the build tree. Run with
# cmake -DBUILD_DIR=... -DPREFIX=... -P InstallCheck.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${status}):\n${output}")
endif()

foreach(file bin/lumeno bin/lumeno-render bin/lumeno-probe share/applications/lumeno.desktop
    share/icons/hicolor/scalable/apps/lumeno.svg)
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "not installed: ${PREFIX}/${file}")
  endif()
endforeach()

foreach(program lumeno-render lumeno lumeno-probe)
  execute_process(COMMAND "${PREFIX}/bin/${program}" --help
    WORKING_DIRECTORY "${PREFIX}"
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0 OR NOT output MATCHES "Usage")
    message(FATAL_ERROR "${PREFIX}/bin/${program} --help exited with ${status}:\n${output}")
  endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
