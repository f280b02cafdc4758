# The include check on small trees of its own: an include from a layer into one above it fails
# the check, which names that include and no other; the same tree without it passes; an order that
# uses a folder before declaring it (the way a cycle would be written) is refused.
#   cmake -DCHECK=check_layers.cmake -DWORK=DIR -P check_test.cmake

cmake_minimum_required(VERSION 3.25)

# Runs the check on the tree in WORK; sets `status` and `said` (what it printed, on one line).
function(run_check status said)
  execute_process(COMMAND ${CMAKE_COMMAND} -DRULES=${WORK}/layers.txt -DROOT=${WORK} -P ${CHECK}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(${status} ${result} PARENT_SCOPE)
  # CMake wraps long messages: one blank between words.
  string(REGEX REPLACE "[ \t\n]+" " " flat "${out}${err}")
  set(${said} "${flat}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK})
file(WRITE ${WORK}/layers.txt "base:\nplatform:base\nmml:platform\nconsole:mml\n")
file(WRITE ${WORK}/base/text.h "#pragma once\n")
file(WRITE ${WORK}/platform/gateway.h "#include \"base/text.h\"\n")
file(WRITE ${WORK}/mml/store.h "#include \"platform/gateway.h\"\n")
file(WRITE ${WORK}/console/app.cpp "#include \"base/text.h\"\n#include \"mml/store.h\"\n")
file(WRITE ${WORK}/platform/posix/file.cpp
     "#include \"platform/gateway.h\"\n#include \"mml/store.h\"  // a; b\n")

run_check(status said)
if(status EQUAL 0)
  message(FATAL_ERROR "an include of mml/ from platform/ passed the check:\n${said}")
endif()
string(REGEX MATCHALL "[^ ]+ includes \"[^\"]*\"" named "${said}")
if(NOT said MATCHES "1 include\\(s\\) against the order of the layers"
   OR NOT named STREQUAL "platform/posix/file.cpp includes \"mml/store.h\"")
  message(FATAL_ERROR "the check did not name the one include against the order:\n${said}")
endif()

file(WRITE ${WORK}/platform/posix/file.cpp "#include \"platform/gateway.h\"\n")
run_check(status said)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the tree in order failed the check:\n${said}")
endif()

file(WRITE ${WORK}/layers.txt "base:mml\nmml:base\n")
run_check(status said)
if(status EQUAL 0 OR NOT said MATCHES "base uses mml, which is not declared before it")
  message(FATAL_ERROR "an order with a cycle was taken:\n${said}")
endif()
message(STATUS "the check refuses a back-edge by name, passes the tree in order, refuses a cycle")
