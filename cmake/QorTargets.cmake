# Helpers shared by the subsystem CMakeLists.

# qor_library(<name> [EXCLUDE <regex>] [LINKS <targets...>])
# A static library made of every .cpp in the current folder (new files are
# picked up at the next build without editing this list).
function(qor_library name)
  cmake_parse_arguments(Q "" "EXCLUDE" "LINKS;SOURCES" ${ARGN})
  if(Q_SOURCES)
    set(srcs ${Q_SOURCES})
  else()
    file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  if(Q_EXCLUDE)
    list(FILTER srcs EXCLUDE REGEX "${Q_EXCLUDE}")
  endif()
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${QOR_INCLUDE_DIRS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${QOR_INCLUDE_DIRS})
  endif()
  if(Q_LINKS)
    get_target_property(kind ${name} TYPE)
    if(kind STREQUAL "INTERFACE_LIBRARY")
      target_link_libraries(${name} INTERFACE ${Q_LINKS})
    else()
      target_link_libraries(${name} PUBLIC ${Q_LINKS})
    endif()
  endif()
endfunction()

# qor_test_time_limit(<var>)
# A test's time limit in seconds (default 300) is a guard against a hang,
# set for a normal build on a busy machine: a sanitizer build runs the same
# programs about three times slower, so it gets three times as long.
macro(qor_test_time_limit var)
  if(NOT ${var})
    set(${var} 300)
  endif()
  if(QOR_SANITIZE)
    math(EXPR ${var} "${${var}} * 3")
  endif()
endmacro()

# qor_add_gtest(<name> SOURCES <files...> LIBS <targets...> [SERIAL])
# One GoogleTest program, run by ctest in a working folder of its own.
# SERIAL marks tests that touch machine-wide things (fixed /tmp paths,
# System V keys) so ctest never runs two of them at once.
function(qor_add_gtest name)
  cmake_parse_arguments(Q "SERIAL" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${Q_SOURCES})
  target_link_libraries(${name} PRIVATE ${Q_LIBS} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${QOR_INCLUDE_DIRS} ${CMAKE_SOURCE_DIR}/tests)
  set(wd ${CMAKE_CURRENT_BINARY_DIR}/${name}.wd)
  file(MAKE_DIRECTORY ${wd})
  add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${wd})
  qor_test_time_limit(Q_TIMEOUT)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${Q_TIMEOUT}
    ENVIRONMENT "QOR_SOURCE_DIR=${CMAKE_SOURCE_DIR};QOR_BINARY_DIR=${CMAKE_BINARY_DIR}")
  if(Q_SERIAL)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK qor_machine_wide)
  endif()
endfunction()

# qor_add_script_test(<name> COMMAND <cmd...> [SERIAL])
# A test driven by a shell script (command-line programs, web server runs).
function(qor_add_script_test name)
  cmake_parse_arguments(Q "SERIAL" "TIMEOUT" "COMMAND" ${ARGN})
  set(wd ${CMAKE_CURRENT_BINARY_DIR}/${name}.wd)
  file(MAKE_DIRECTORY ${wd})
  add_test(NAME ${name} COMMAND ${Q_COMMAND} WORKING_DIRECTORY ${wd})
  qor_test_time_limit(Q_TIMEOUT)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${Q_TIMEOUT}
    ENVIRONMENT "QOR_SOURCE_DIR=${CMAKE_SOURCE_DIR};QOR_BINARY_DIR=${CMAKE_BINARY_DIR}")
  if(Q_SERIAL)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK qor_machine_wide)
  endif()
endfunction()
