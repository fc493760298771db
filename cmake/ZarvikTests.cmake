# How tests are registered. Every test name starts with its layer
# ("driver.ExchangeTest.Poll"), so `ctest -R '^driver\.'` runs one layer; and
# every label knows the programs its tests need: the target tests-<label>
# builds exactly those (a phase builds tests-tsan, then runs `ctest -L tsan`).
#
# A folder's own labels (the LABELS directory property, e.g. tsan) are set
# before its tests are registered, so they count here too.

# Records that the tests carrying any of LABELS need the targets that follow.
function(zarvik_label_needs labels)
  foreach(label IN LISTS labels)
    set_property(GLOBAL APPEND PROPERTY ZARVIK_LABEL_NEEDS_${label} ${ARGN})
    set_property(GLOBAL APPEND PROPERTY ZARVIK_TEST_LABELS ${label})
  endforeach()
endfunction()

# The labels of a test registered in the current folder: LAYER, the extra
# ones given, and the folder's own.
function(zarvik_test_labels out layer)
  get_directory_property(folder_labels LABELS)
  set(labels ${layer} ${ARGN} ${folder_labels})
  list(REMOVE_DUPLICATES labels)
  set(${out} "${labels}" PARENT_SCOPE)
endfunction()

# A test that is one command: zarvik_test(LAYER NAME COMMAND ... [LABELS ...]
# [NEEDS targets...] [TIMEOUT s] [ENVIRONMENT ...] [PROPERTIES ...]). The
# test is called LAYER.NAME; a COMMAND that is a target counts as needed.
function(zarvik_test layer name)
  cmake_parse_arguments(arg "" "TIMEOUT" "COMMAND;LABELS;NEEDS;ENVIRONMENT;PROPERTIES" ${ARGN})
  zarvik_test_labels(labels ${layer} ${arg_LABELS})
  add_test(NAME ${layer}.${name} COMMAND ${arg_COMMAND})
  # (List values one property at a time: a list would be read as more names.)
  set_tests_properties(${layer}.${name} PROPERTIES LABELS "${labels}")
  if(arg_TIMEOUT)
    set_tests_properties(${layer}.${name} PROPERTIES TIMEOUT ${arg_TIMEOUT})
  endif()
  if(arg_ENVIRONMENT)
    set_tests_properties(${layer}.${name} PROPERTIES ENVIRONMENT "${arg_ENVIRONMENT}")
  endif()
  if(arg_PROPERTIES)
    set_tests_properties(${layer}.${name} PROPERTIES ${arg_PROPERTIES})
  endif()
  list(GET arg_COMMAND 0 program)
  set(needs ${arg_NEEDS})
  if(TARGET ${program})
    list(APPEND needs ${program})
  endif()
  zarvik_label_needs("${labels}" ${needs})
endfunction()

# The phase targets: tests-<label> builds what the tests labelled <label>
# need. Called once, after every test folder.
function(zarvik_add_phase_targets)
  get_property(labels GLOBAL PROPERTY ZARVIK_TEST_LABELS)
  list(REMOVE_DUPLICATES labels)
  foreach(label IN LISTS labels)
    get_property(needs GLOBAL PROPERTY ZARVIK_LABEL_NEEDS_${label})
    add_custom_target(tests-${label})
    if(needs)
      list(REMOVE_DUPLICATES needs)
      add_dependencies(tests-${label} ${needs})
    endif()
  endforeach()
endfunction()

# A GoogleTest program: each of its cases is a CTest test called
# LAYER.Suite.Case. zarvik_gtest(target LAYER [LABELS ...] [NEEDS targets...]
# [TIMEOUT s] [DISCOVERY_TIMEOUT s] [TEST_FILTER filter] [SLOW Suite.Case...]):
# the SLOW cases also get the label slow (make check leaves them out). The
# cases are known only once the program is built, so their labels and timeout
# are set by a file CTest reads after the discovered list. (Under Wine the
# whole program is one test: tests/windows/WineTests.cmake.)
function(zarvik_gtest target layer)
  cmake_parse_arguments(arg "" "TIMEOUT;DISCOVERY_TIMEOUT;TEST_FILTER" "LABELS;NEEDS;SLOW" ${ARGN})
  zarvik_test_labels(labels ${layer} ${arg_LABELS})
  set(discovery TEST_PREFIX "${layer}." TEST_LIST ${target}_TESTS)
  if(arg_DISCOVERY_TIMEOUT)
    list(APPEND discovery DISCOVERY_TIMEOUT ${arg_DISCOVERY_TIMEOUT})
  endif()
  if(arg_TEST_FILTER)
    list(APPEND discovery TEST_FILTER ${arg_TEST_FILTER})
  endif()
  gtest_discover_tests(${target} ${discovery})

  set(properties "LABELS \"${labels}\"")
  if(arg_TIMEOUT)
    string(APPEND properties " TIMEOUT ${arg_TIMEOUT}")
  endif()
  set(slow)
  foreach(case IN LISTS arg_SLOW)
    list(APPEND slow "${layer}.${case}")
  endforeach()
  set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}_properties.cmake")
  file(WRITE ${script}
    "set(slow \"${slow}\")\n"
    "foreach(test IN LISTS ${target}_TESTS)\n"
    "  set_tests_properties(\"\${test}\" PROPERTIES ${properties})\n"
    "  list(FIND slow \"\${test}\" index)\n"
    "  if(NOT index EQUAL -1)\n"
    "    set_tests_properties(\"\${test}\" PROPERTIES LABELS \"${labels};slow\")\n"
    "  endif()\n"
    "endforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
  if(arg_SLOW)
    zarvik_label_needs(slow ${target})
  endif()

  # GoogleTest's header once for a program of several test files.
  get_target_property(sources ${target} SOURCES)
  list(LENGTH sources count)
  if(count GREATER 2)
    zarvik_precompile(${target} gtest)
  endif()
  zarvik_label_needs("${labels}" ${target} ${arg_NEEDS})
endfunction()
