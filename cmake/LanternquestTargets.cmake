# lq_library(NAME DIR [DEPS ...] [DEFINES ...]): a static library of every .cpp in DIR (new files are
# picked up at the next build), with src/ as the include root.
function(lq_library name dir)
  cmake_parse_arguments(ARG "" "" "DEPS;DEFINES" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    target_compile_definitions(${name} PUBLIC ${ARG_DEFINES})
  else()
    # Headers only so far.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    target_compile_definitions(${name} INTERFACE ${ARG_DEFINES})
  endif()
endfunction()

# lq_test(NAME DEPS ...): one test program from every .cpp in tests/NAME, run by ctest.
function(lq_test name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(test_${name} ${sources})
  target_link_libraries(test_${name} PRIVATE ${ARGN} lq_testsupport GTest::gtest GTest::gtest_main)
  add_test(NAME ${name} COMMAND test_${name})
  # Host discovery stays off unless a test turns it on inside a network namespace it made.
  # The slowest program (network) takes about a minute under a sanitizer on two busy cores;
  # a hung one is stopped long before it could hold up the whole run.
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LQ_BUILD_DIR=${PROJECT_BINARY_DIR};LQ_HOST_DISCOVERY=off"
    TIMEOUT 300)
  # Reports from inside system libraries that are known and harmless, however ctest is run.
  if(LQ_SANITIZER STREQUAL "thread")
    set_property(TEST ${name} PROPERTY ENVIRONMENT_MODIFICATION
      "TSAN_OPTIONS=string_append: suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp")
  elseif(LQ_SANITIZER STREQUAL "address")
    set_property(TEST ${name} PROPERTY ENVIRONMENT_MODIFICATION
      "LSAN_OPTIONS=string_append::suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp")
  endif()
endfunction()
