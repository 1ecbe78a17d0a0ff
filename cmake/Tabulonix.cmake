# Shared CMake helpers.
#
# tabulonix_library(NAME DIR LINKS...) builds every .cpp of DIR (not its tests) into a static library;
# in the sanitizer build a shared one, so that fifty test programs do not each carry an instrumented
# copy of the engine (that made the build larger than a CI machine's disk).
# tabulonix_tests(DIR LINKS...) turns every tests/DIR/*_test.cpp into its own GoogleTest executable,
# so that one unfinished test file never stops the others from building.

function(tabulonix_library name dir)
  file(GLOB _srcs CONFIGURE_DEPENDS "${dir}/*.cpp")
  list(FILTER _srcs EXCLUDE REGEX ".*_test\\.cpp$")
  list(FILTER _srcs EXCLUDE REGEX ".*/main\\.cpp$")
  if(_srcs)
    if(TABULONIX_SANITIZE)
      add_library(${name} SHARED ${_srcs})
    else()
      add_library(${name} STATIC ${_srcs})
    endif()
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()

function(tabulonix_tests dir)
  file(GLOB _tests CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/tests/${dir}/*_test.cpp")
  file(GLOB _support CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/tests/${dir}/support/*.cpp")
  # The folder's support files are compiled once and linked into each of its test programs. Programs
  # of a nested folder (jet/expr) are named with '_' for '/'.
  string(REPLACE "/" "_" _prefix ${dir})
  set(_common ${_prefix}_test_common)
  add_library(${_common} OBJECT ${_support} ${CMAKE_SOURCE_DIR}/tests/sync_off.cpp)
  foreach(_t ${_common} ${_tests})
    if(_t STREQUAL _common)
      set(_exe ${_common})
    else()
      get_filename_component(_n ${_t} NAME_WE)
      set(_exe ${_prefix}_${_n})
      add_executable(${_exe} ${_t} $<TARGET_OBJECTS:${_common}>)
      set_target_properties(${_exe} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TABULONIX_TEST_BIN_DIR})
    endif()
    target_include_directories(${_exe} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
    target_link_libraries(${_exe} PRIVATE ${ARGN} GTest::gtest GTest::gtest_main)
    target_compile_definitions(${_exe} PRIVATE
      TABULONIX_TESTDATA_DIR="${TABULONIX_TESTDATA_DIR}"
      TABULONIX_INDEX_CODES_DIR="${TABULONIX_INDEX_CODES_DIR}"
      TABULONIX_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
      TABULONIX_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
    if(_t STREQUAL _common)
      continue()
    endif()
    gtest_discover_tests(${_exe} DISCOVERY_TIMEOUT 60
      PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" LABELS ${_prefix})
  endforeach()
endfunction()
