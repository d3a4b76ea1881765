# Shared build helpers. Every folder under src/, tests/ and bench/ that holds a
# CMakeLists.txt is added automatically, so a new area needs no edit elsewhere.

set(CMAKE_AUTOMOC ON)

# Adds every immediate subfolder of the current source folder that has a CMakeLists.txt.
function(tdw_add_subdirectories)
  file(GLOB children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
  list(SORT children)
  foreach(child ${children})
    get_filename_component(dir ${child} DIRECTORY)
    add_subdirectory(${dir})
  endforeach()
endfunction()

# tdw_library(name [SOURCES a.cpp b.h ...] DEPS target ...)
# A static library whose headers are included as "area/File.h" from src/.
# Without SOURCES it takes every .cpp and .h file of its folder.
function(tdw_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_SOURCES)
    file(GLOB ARG_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  endif()
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${TDW_SOURCE_ROOT}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()

# tdw_gtest(name [GUI] SOURCES a_test.cpp ... DEPS target ... [LABELS l ...] [ENVIRONMENT K=V ...] [TIMEOUT s]
#           [FIXTURES f ...])
# A GoogleTest program run through CTest. Its main() (tests/support) gives each
# run a QCoreApplication (a QApplication with GUI, for tests that make widgets)
# and private XDG folders, so tests never touch the user's files.
# FIXTURES names CTest fixtures (e.g. a local server started by a setup test) every test needs.
function(tdw_gtest name)
  cmake_parse_arguments(ARG "GUI" "TIMEOUT" "SOURCES;DEPS;LABELS;ENVIRONMENT;FIXTURES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  set(support tdw_test_support)
  if(ARG_GUI)
    set(support tdw_test_support_gui)
  endif()
  target_link_libraries(${name} PRIVATE ${support} ${ARG_DEPS} GTest::gtest GTest::gmock)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set(props TIMEOUT ${ARG_TIMEOUT})
  if(ARG_LABELS)
    list(APPEND props LABELS "${ARG_LABELS}")
  endif()
  if(ARG_FIXTURES)
    list(APPEND props FIXTURES_REQUIRED "${ARG_FIXTURES}")
  endif()
  # The test environment travels in a file beside the program, which its main()
  # applies: gtest_discover_tests loses every entry of a list-valued ENVIRONMENT
  # property but the first.
  set(env TIDEWELL_RESOURCES=${TDW_RESOURCES_DIR} TDW_SOURCE_ROOT=${TDW_SOURCE_ROOT}
      TDW_BINARY_ROOT=${CMAKE_BINARY_DIR} QT_QPA_PLATFORM=offscreen ${ARG_ENVIRONMENT})
  string(REPLACE ";" "\n" env "${env}")
  file(GENERATE OUTPUT $<TARGET_FILE:${name}>.env CONTENT "${env}\n")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES ${props})
endfunction()

# tdw_fuzzer(name SOURCES fuzz_x.cpp ... DEPS target ...)
# A libFuzzer target (LLVMFuzzerTestOneInput). Built only with -DTDW_FUZZ=ON and
# clang; scripts/fuzz builds and runs every one of them for a bounded time.
function(tdw_fuzzer name)
  if(NOT TDW_FUZZ)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  set_property(GLOBAL APPEND PROPERTY TDW_FUZZERS ${name})
endfunction()
