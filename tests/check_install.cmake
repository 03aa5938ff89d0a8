# Installs the build into a fresh prefix, then builds the examples against
# the installed tree twice, finding it once through the CMake package and
# once through pkg-config, and runs the diet example of each. The installed
# console program must run from its own place too.
#   -DBUILD=<build dir> -DSOURCE=<source dir> -DWORK=<scratch dir>
#   -DGENERATOR=<generator> -DC_COMPILER=<compiler>
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "failed (${rc}): ${command}\n${out}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK})
set(prefix ${WORK}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix})

foreach(way package pkg-config)
  if(way STREQUAL "pkg-config")
    set(option -DKLSOL_EXAMPLES_PKG_CONFIG=ON)
  else()
    set(option -DKLSOL_EXAMPLES_PKG_CONFIG=OFF)
  endif()
  # Only the installed tree may be found: no PKG_CONFIG_PATH from outside.
  run(${CMAKE_COMMAND} -E env --unset=PKG_CONFIG_PATH
    ${CMAKE_COMMAND} -S ${SOURCE}/examples -B ${WORK}/${way} -G ${GENERATOR}
    -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_PREFIX_PATH=${prefix} ${option})
  run(${CMAKE_COMMAND} --build ${WORK}/${way})
  run(${WORK}/${way}/klsol_diet ${SOURCE}/examples/diet.mps)
  if(NOT output MATCHES "objective 92.500000")
    message(FATAL_ERROR "the diet example built through ${way} printed:\n${output}")
  endif()
  message(STATUS "${way}: ${output}")
endforeach()

# The console program from the installed tree, run elsewhere.
file(COPY ${SOURCE}/examples/diet.mps DESTINATION ${WORK}/console)
file(WRITE ${WORK}/console/commands.txt "PROBLEM diet\nINPUT\nMINIM\nQUIT\n")
execute_process(COMMAND ${prefix}/bin/klsol INPUT_FILE ${WORK}/console/commands.txt
  WORKING_DIRECTORY ${WORK}/console RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out MATCHES "92.500000")
  message(FATAL_ERROR "the installed klsol failed (${rc}):\n${out}")
endif()
