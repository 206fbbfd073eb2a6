# kesta_library(<target> DEPS <libs...>)
# Builds every *.cpp of the calling folder, except *_test.cpp, into one static
# library, and every *_test.cpp into one GoogleTest program registered with CTest.
function(kesta_library target)
  cmake_parse_arguments(ARG "" "" "DEPS;TEST_DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  list(REMOVE_ITEM sources ${tests} ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  set_property(GLOBAL APPEND PROPERTY KESTA_LIBRARIES ${target})
  if(KESTA_TESTS AND tests)
    add_executable(${target}_tests ${tests})
    target_link_libraries(${target}_tests PRIVATE ${target} ${ARG_TEST_DEPS} GTest::gtest GTest::gtest_main)
    target_compile_definitions(${target}_tests PRIVATE
      KESTA_SOURCE_DIR="${PROJECT_SOURCE_DIR}" KESTA_BINARY_DIR="${PROJECT_BINARY_DIR}")
    gtest_discover_tests(${target}_tests DISCOVERY_MODE PRE_TEST
      PROPERTIES ENVIRONMENT "KESTA_TEST=1" TIMEOUT 300)
  endif()
endfunction()
