cmake_minimum_required(VERSION 3.20)

# Fails when a file under ${SRC} includes a header of a layer it may not
# reach. Each layer may include its own headers and those of the layers
# listed for it; the exceptions below are the few places where a lower layer
# calls into a higher one, each with its reason.

set(allowed_api "console;global;barrier;presolve;files;simplex;factor;problem;runtime")
set(allowed_console "global;barrier;presolve;files;simplex;factor;problem;runtime")
set(allowed_global "simplex;presolve;files;factor;problem;runtime")
set(allowed_barrier "simplex;factor;problem;runtime")
set(allowed_presolve "factor;problem;runtime")
set(allowed_files "problem;runtime")
set(allowed_simplex "factor;problem;runtime")
set(allowed_factor "problem;runtime")
set(allowed_problem "runtime")
set(allowed_runtime "")
set(layers api console global barrier presolve files simplex factor problem runtime)

# "including file prefix|included header prefix|reason"
set(exceptions
  "runtime/startup.cpp|||start-up sets every subsystem's records to their start values"
  "runtime/names.cpp|problem/store.h|name lookup reads the problem's name table and name length"
  "runtime/messages.cpp|problem/store.h|message inserts print position names from the problem's name table"
  "runtime/frame.cpp|problem/store.h|the end of every call checks the problem state word"
  "factor/invert.cpp|simplex/basic_values.h|a fresh factor recomputes the basic values"
  "files/|factor/simplex_state.h|the readers and the solution file set the optimiser's outcome and sense"
  "files/save_file.cpp|||the save file keeps every subsystem's records of the problem, the global search's included"
  "files/solution_file.cpp|simplex/successive_lp.h|the solution file records the successive-LP pass"
  "files/solution_collection.cpp|simplex/successive_lp.h|the older SOLFILE layout repeats the solution with the values recorded by successive LP"
  "files/solution_collection.cpp|presolve/postsolve.h|SOLFILE describes a presolved problem in original terms"
  "files/solution_text.cpp|factor/starting_basis.h|a loaded basis is inverted and its solution recomputed"
  "problem/loader.cpp|files/load_support.h|the loaders call the cut-space sizing of the file subsystem"
  "problem/setup.cpp|factor/|the set-up scales the loaded problem and sets the big-M mode of the factor"
  "problem/loader.cpp|factor/basis.h|a load resets the factor state"
  "problem/loader.cpp|simplex/solver_reset.h|a load resets every optimiser record of the problem it replaces"
  "problem/delete_rows_cols.cpp|factor/starting_basis.h|deleting basic rows rebuilds the basis header"
  "problem/slots.cpp|factor/|a slot switch rebuilds the basis header and refactorises"
  "problem/slots.cpp|simplex/lp_driver.h|a slot keeps the LP driver's state of its problem"
  "problem/slots.cpp|simplex/solver_reset.h|a slot switch resets the optimiser records of the problem left"
  "problem/slots.cpp|files/solution_file.h|a slot keeps the solution-file header of its problem"
  "simplex/|files/solution_file.h|the LP driver writes the solution file and ranging reads it back"
  "simplex/lp_driver.cpp|presolve/|the LP driver presolves before the simplex and postsolves after"
  "simplex/barrier_front|barrier/|the LP driver's barrier path calls the barrier's single entry and reads its status codes"
  "simplex/lp_driver.cpp|global/|KLMINIM and KLMAXIM run the cut-manager loop and the global search after the LP relaxation"
  "simplex/iis.cpp|presolve/array_switch.h|the infeasible-set search gives up a presolved form for the problem as loaded"
  "simplex/solver_reset.cpp|presolve/presolve_state.h|a load resets presolve's records of the problem it replaces"
  "problem/setup.cpp|presolve/presolve_state.h|every load sets presolve's counts to the loaded problem"
  "problem/slots.cpp|presolve/|a slot keeps presolve's records and stack tops of its problem"
  "simplex/|presolve/postsolve.h|the solution and basis queries and successive LP read a presolved solution in original terms"
  "presolve/postsolve.cpp|simplex/|postsolve prices the presolved basis with the simplex's basic costs and logs the end of a final run"
  "problem/add_rows_presolved.cpp|presolve/|a row added to a presolved problem is restated through the presolve records and counted with the presolved rows"
)

get_filename_component(SRC "${SRC}" ABSOLUTE)
file(GLOB_RECURSE sources RELATIVE ${SRC} ${SRC}/*.h ${SRC}/*.cpp)
set(violations "")
set(used_exceptions "")
foreach(source IN LISTS sources)
  string(REGEX MATCH "^[^/]+" layer "${source}")
  if(NOT layer IN_LIST layers)
    continue()
  endif()
  file(STRINGS ${SRC}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"]+)\".*" "\\1" header "${line}")
    string(REGEX MATCH "^[^/]+/" target "${header}")
    string(REGEX REPLACE "/$" "" target "${target}")
    # Generated and public headers (klsol/, klsol32.h) belong to no layer.
    if(target STREQUAL "" OR NOT target IN_LIST layers OR target STREQUAL layer OR target IN_LIST allowed_${layer})
      continue()
    endif()
    set(excused FALSE)
    foreach(entry IN LISTS exceptions)
      string(REPLACE "|" ";" fields "${entry}")
      list(GET fields 0 from)
      list(GET fields 1 to)
      string(LENGTH "${from}" from_length)
      string(LENGTH "${to}" to_length)
      string(SUBSTRING "${source}" 0 ${from_length} source_head)
      string(SUBSTRING "${header}" 0 ${to_length} header_head)
      if(source_head STREQUAL from AND header_head STREQUAL to)
        set(excused TRUE)
        list(APPEND used_exceptions "${from}|${to}")
        break()
      endif()
    endforeach()
    if(NOT excused)
      list(APPEND violations "${source} includes ${header} (${layer} may not reach ${target})")
    endif()
  endforeach()
endforeach()

# An exception nothing needs any more is dropped, so the list stays short.
foreach(entry IN LISTS exceptions)
  string(REPLACE "|" ";" fields "${entry}")
  list(GET fields 0 from)
  list(GET fields 1 to)
  if(NOT "${from}|${to}" IN_LIST used_exceptions AND NOT DEFINED ALLOW_UNUSED_EXCEPTIONS)
    list(APPEND violations "exception ${from} -> ${to} is no longer needed")
  endif()
endforeach()

if(violations)
  string(REPLACE ";" "\n  " text "${violations}")
  message(FATAL_ERROR "layering broken:\n  ${text}")
endif()
list(LENGTH sources count)
message(STATUS "${count} sources keep to their layers")
