# Fails when the data tests a program registers depend on whether the data
# is there: the list with KLSOL_DATA pointing nowhere must be the list with
# the configured data, and must hold the parameterised cases.
function(list_tests data_dir out)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env KLSOL_DATA=${data_dir} ${PROGRAM} --gtest_list_tests
    OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --gtest_list_tests failed (${rc})")
  endif()
  set(${out} "${listing}" PARENT_SCOPE)
endfunction()

list_tests(/nonexistent/klsol-data without)
list_tests(${DATA} with)
if(NOT without STREQUAL with)
  message(FATAL_ERROR "the tests listed depend on the data:\n--- without ${DATA}:\n${without}\n--- with it:\n${with}")
endif()
foreach(expected IN LISTS EXPECTED)
  string(FIND "${without}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "'${expected}' is not listed without the data")
  endif()
endforeach()
