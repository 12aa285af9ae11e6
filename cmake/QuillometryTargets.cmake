# Helpers that keep the per-folder CMakeLists short.

# q_add_library(NAME folder-target DEPS ...): a static library made of every
# .cpp/.h in the current folder. Includes are written from the project root
# ("base/jobmonitor.h").
function(q_add_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;PRIVATE_DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
endfunction()

# q_add_test_folder(NAME exe LIBS ... LABELS ... [TIMEOUT s] [SOURCES ...]):
# one GoogleTest executable made of every .cpp of the current folder (or the
# given SOURCES), its cases registered with CTest one by one.
function(q_add_test_folder name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "LIBS;LABELS;SOURCES" ${ARGN})
  if(ARG_SOURCES)
    set(sources ${ARG_SOURCES})
  else()
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  # tests/support/testtempdir.cpp gives every test binary a TMPDIR of its own.
  add_executable(${name} ${sources} ${PROJECT_SOURCE_DIR}/tests/support/testtempdir.cpp)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    Q_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    Q_SHARED_FIXTURES="${PROJECT_SOURCE_DIR}/../shared/fixtures")
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT}
               ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  # ctest takes one environment entry here; scripts/test exports the WebEngine
  # sandbox switch and sanitizer options for every test.
endfunction()
