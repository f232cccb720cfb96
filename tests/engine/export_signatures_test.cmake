# The engine's ordinal table takes each engine function only with the type the
# list of exports gives it. Compiles the table from a copy of the engine's
# sources with the build's own command: as it is, which must compile, then with
# Seek's argument widened once in the engine and once in the list, which must
# not, and the compiler must say it is about Seek.
# Usage: cmake -DSOURCE_DIR=... -DBINARY_DIR=... -DWORK_DIR=... -P export_signatures_test.cmake
foreach(var SOURCE_DIR BINARY_DIR WORK_DIR)
  if(NOT ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

# The build's command for the table, from the compilation database.
file(STRINGS ${BINARY_DIR}/compile_commands.json lines REGEX "\"command\": .*/engine/src/(.*/)?Exports\\.cpp\"")
list(LENGTH lines count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one compile command for the ordinal table, found ${count}")
endif()
string(REGEX REPLACE ",[ \t]*$" "" line "${lines}")
string(JSON command GET "{${line}}" command)
# The same compilation, of the copy, checking only: no object, no dependency file.
string(REPLACE "${SOURCE_DIR}/engine/" "${WORK_DIR}/engine/" command "${command}")
string(REGEX REPLACE " -o [^ ]+" " -fsyntax-only" command "${command}")
string(REGEX REPLACE " -M[TF] [^ ]+| -M?MD" "" command "${command}")

# Replaces one text in one file of the copy, failing when it is not there once.
function(change_copy glob old new)
  file(GLOB_RECURSE files ${WORK_DIR}/engine/${glob})
  set(changed 0)
  foreach(f IN LISTS files)
    file(READ ${f} text)
    string(FIND "${text}" "${old}" at)
    if(at GREATER -1)
      string(REPLACE "${old}" "${new}" text "${text}")
      file(WRITE ${f} "${text}")
      math(EXPR changed "${changed} + 1")
    endif()
  endforeach()
  if(NOT changed EQUAL 1)
    message(FATAL_ERROR "'${old}' found in ${changed} files under engine/${glob}, expected one")
  endif()
endfunction()

function(compile_copy expect label)
  execute_process(COMMAND sh -c "${command}" WORKING_DIRECTORY ${BINARY_DIR}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(expect STREQUAL "compiles" AND NOT rc EQUAL 0)
    message(FATAL_ERROR "${label}: the table does not compile:\n${err}")
  elseif(expect STREQUAL "fails")
    if(rc EQUAL 0)
      message(FATAL_ERROR "${label}: the table compiles")
    elseif(NOT err MATCHES "Seek")
      message(FATAL_ERROR "${label}: the table fails, but not over Seek:\n${err}")
    endif()
  endif()
  message(STATUS "${label}: ${expect}")
endfunction()

function(fresh_copy)
  file(REMOVE_RECURSE ${WORK_DIR})
  file(MAKE_DIRECTORY ${WORK_DIR})
  file(COPY ${SOURCE_DIR}/engine DESTINATION ${WORK_DIR})
endfunction()

fresh_copy()
compile_copy(compiles "as it is")

change_copy("src/*.h" "int32_t Seek(int32_t seconds);" "int32_t Seek(int64_t seconds);")
compile_copy(fails "Seek taking int64_t in the engine")

fresh_copy()
change_copy("include/reelpage/exports.h" "Seek, int32_t, (int32_t seconds)"
            "Seek, int32_t, (int64_t seconds)")
compile_copy(fails "Seek taking int64_t in the list")

file(REMOVE_RECURSE ${WORK_DIR})
