# Helpers shared by the folders' CMakeLists.

# zephra_test(<name> SOURCES ... LIBS ...): a GoogleTest executable run by ctest.
# Under the Windows build ctest starts it through Wine (the cross-compiling emulator).
function(zephra_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# zephra_library(<name> SOURCES ... LIBS ...): a static library of project code.
function(zephra_library name)
  cmake_parse_arguments(L "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${L_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${L_LIBS})
endfunction()
