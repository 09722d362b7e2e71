# Helpers shared by the folders' CMakeLists.

# zephra_test(<name> SOURCES ... LIBS ...): a GoogleTest executable run by ctest.
# Under the Windows build ctest starts it through Wine (the cross-compiling emulator).
function(zephra_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  zephra_start_mark(${name})
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# zephra_start_mark(<target>): under the Windows build the program writes the start mark
# (tests/winestart/StartMark.cpp), so that tools/wine-start.sh starts it again, and only
# it, when Wine lost its start. For test and demo programs, never for a shipped one.
function(zephra_start_mark target)
  if(WIN32)
    if(NOT TARGET zephra_start_mark)
      add_library(zephra_start_mark OBJECT ${PROJECT_SOURCE_DIR}/tests/winestart/StartMark.cpp)
    endif()
    target_link_libraries(${target} PRIVATE zephra_start_mark)
  endif()
endfunction()

# zephra_library(<name> SOURCES ... LIBS ...): a static library of project code.
function(zephra_library name)
  cmake_parse_arguments(L "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${L_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${L_LIBS})
endfunction()

# zephra_add_skin_package(): the skin package, every file of skin/ in one deflated ZIP,
# built at build time as ${CMAKE_BINARY_DIR}/skin-package.zip by the target
# zephra_skin_package. Sets ZEPHRA_SKIN_PACKAGE (its path) and ZEPHRA_SKIN_PACKAGE_FOR_PROGRAMS
# (the path as the build's own programs see it: under Wine the Unix root is drive Z:).
function(zephra_add_skin_package)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(package ${CMAKE_BINARY_DIR}/skin-package.zip)
  set(script ${PROJECT_SOURCE_DIR}/tools/make_skin_package.py)
  file(GLOB skin_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/skin/*)
  add_custom_command(OUTPUT ${package}
    COMMAND Python3::Interpreter ${script} ${PROJECT_SOURCE_DIR}/skin ${package}
    DEPENDS ${skin_files} ${script}
    COMMENT "Building the skin package")
  add_custom_target(zephra_skin_package DEPENDS ${package})
  set(ZEPHRA_SKIN_PACKAGE ${package} PARENT_SCOPE)
  if(WIN32)
    set(ZEPHRA_SKIN_PACKAGE_FOR_PROGRAMS "Z:${package}" PARENT_SCOPE)
  else()
    set(ZEPHRA_SKIN_PACKAGE_FOR_PROGRAMS "${package}" PARENT_SCOPE)
  endif()
endfunction()

# zephra_version_resource(<target> DESCRIPTION <text>): the program's version resource
# (VERSIONINFO), with the project version as file and product version. Each program of
# the Windows build calls it once.
set(ZEPHRA_COMPANY "Zephra")
set(ZEPHRA_COPYRIGHT "Copyright (C) 2026 The Zephra developers")
function(zephra_version_resource target)
  cmake_parse_arguments(V "" "DESCRIPTION" "" ${ARGN})
  set(ZEPHRA_FILE_DESCRIPTION "${V_DESCRIPTION}")
  set(ZEPHRA_INTERNAL_NAME "${target}")
  set(ZEPHRA_ORIGINAL_FILENAME "${target}.exe")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/res/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
