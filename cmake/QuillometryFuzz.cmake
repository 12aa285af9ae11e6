# Fuzz targets for the code that reads bytes from outside (chat databases,
# backups, phones).
#
#   q_add_fuzz_target(NAME <name>
#                     SOURCES <harness and the project sources it exercises>
#                     [PROTOS <.proto files those sources need>]
#                     [LIBS <outside libraries, as imported targets>]
#                     [SEEDS <folder of seed inputs>])
#
# The harness defines LLVMFuzzerTestOneInput. When a clang++ with libFuzzer
# works (and QUILLOMETRY_FUZZ is on), every target is built by clang with
# libFuzzer and AddressSanitizer in a small sub-build (build/fuzz-clang), so
# the rest of the tree keeps its own compiler. Otherwise the same harness is
# linked with tests/fuzz/standalonedriver.cpp, which runs the seeds and then
# random mutations of them. Either way the CTest test fuzz_<name> (label
# "slow") runs the target for QUILLOMETRY_FUZZ_SECONDS seconds; a crash, a
# sanitizer report or a hang fails it. Project libraries are not linked:
# list the sources the harness needs, so that the sub-build compiles only
# those with clang.
include_guard(GLOBAL)
include(CheckCXXSourceCompiles)

set(QUILLOMETRY_FUZZ_SECONDS 10 CACHE STRING "Seconds each fuzz smoke test runs")

# Is there a clang++ whose libFuzzer links? Checked once per build folder.
if(QUILLOMETRY_FUZZ AND NOT DEFINED Q_FUZZ_CLANGXX_WORKS)
  find_program(Q_FUZZ_CLANGXX NAMES clang++ clang++-16 clang++-15 clang++-14)
  find_program(Q_FUZZ_CLANG NAMES clang clang-16 clang-15 clang-14)
  set(_works OFF)
  if(Q_FUZZ_CLANGXX AND Q_FUZZ_CLANG)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
      # The project's own compiler is clang: ask it directly.
      set(CMAKE_REQUIRED_FLAGS "-fsanitize=fuzzer,address")
      set(CMAKE_REQUIRED_LINK_OPTIONS "-fsanitize=fuzzer,address")
      check_cxx_source_compiles([[
        #include <cstddef>
        #include <cstdint>
        extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }
      ]] Q_FUZZ_LIBFUZZER_LINKS)
      unset(CMAKE_REQUIRED_FLAGS)
      unset(CMAKE_REQUIRED_LINK_OPTIONS)
      set(_works ${Q_FUZZ_LIBFUZZER_LINKS})
    else()
      set(_dir ${CMAKE_BINARY_DIR}/CMakeFiles/fuzzcheck)
      file(MAKE_DIRECTORY ${_dir})
      file(WRITE ${_dir}/check.cpp
        "#include <cstddef>\n#include <cstdint>\n"
        "extern \"C\" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }\n")
      execute_process(
        COMMAND ${Q_FUZZ_CLANGXX} -fsanitize=fuzzer,address ${_dir}/check.cpp -o ${_dir}/check
        RESULT_VARIABLE _rc OUTPUT_QUIET ERROR_QUIET)
      if(_rc EQUAL 0)
        set(_works ON)
      endif()
    endif()
  endif()
  set(Q_FUZZ_CLANGXX_WORKS ${_works} CACHE INTERNAL "clang++ with libFuzzer is usable")
  if(_works)
    message(STATUS "Fuzz targets: libFuzzer with ${Q_FUZZ_CLANGXX}")
  else()
    message(STATUS "Fuzz targets: no usable libFuzzer (install clang and libclang-rt-14-dev); "
                   "using the standalone mutation driver")
  endif()
endif()

# The driver build runs under the sanitizers when the compiler has them.
if(NOT DEFINED Q_FUZZ_DRIVER_ASAN)
  set(CMAKE_REQUIRED_FLAGS "-fsanitize=address")
  set(CMAKE_REQUIRED_LINK_OPTIONS "-fsanitize=address")
  check_cxx_source_compiles("int main() { return 0; }" Q_FUZZ_DRIVER_ASAN)
  unset(CMAKE_REQUIRED_FLAGS)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
endif()

function(_q_fuzz_add_test name binary seeds)
  set(_q_fuzz_root ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/..)
  add_test(NAME fuzz_${name}
    COMMAND ${CMAKE_COMMAND}
      -DFUZZER=${binary}
      -DWORK_DIR=${CMAKE_BINARY_DIR}/fuzz-work/${name}
      -DSEEDS=${seeds}
      -DSECONDS=${QUILLOMETRY_FUZZ_SECONDS}
      -P ${_q_fuzz_root}/tests/fuzz/runfuzz.cmake)
  math(EXPR _timeout "${QUILLOMETRY_FUZZ_SECONDS} * 3 + 60")
  set_tests_properties(fuzz_${name} PROPERTIES LABELS "slow" TIMEOUT ${_timeout}
    ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1")
endfunction()

function(q_add_fuzz_target)
  set(_q_fuzz_root ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/..)
  cmake_parse_arguments(ARG "" "NAME;SEEDS" "SOURCES;PROTOS;LIBS" ${ARGN})
  if(NOT ARG_NAME OR NOT ARG_SOURCES)
    message(FATAL_ERROR "q_add_fuzz_target needs NAME and SOURCES")
  endif()
  set(sources "")
  foreach(s ${ARG_SOURCES})
    get_filename_component(abs ${s} ABSOLUTE)
    list(APPEND sources ${abs})
  endforeach()
  set(protos "")
  foreach(p ${ARG_PROTOS})
    get_filename_component(abs ${p} ABSOLUTE BASE_DIR ${_q_fuzz_root})
    list(APPEND protos ${abs})
  endforeach()
  if(ARG_SEEDS)
    get_filename_component(seeds ${ARG_SEEDS} ABSOLUTE)
  else()
    set(seeds "")
  endif()
  set(name fuzz_${ARG_NAME})

  if(Q_FUZZ_CLANGXX_WORKS)
    get_property(registered GLOBAL PROPERTY Q_FUZZ_TARGETS)
    if(NOT registered)
      cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _q_fuzz_finalize)
    endif()
    string(JOIN "\" \"" s_list ${sources})
    string(JOIN "\" \"" p_list ${protos})
    string(JOIN " " l_list ${ARG_LIBS})
    set(entry "q_fuzz_binary(${name} SOURCES \"${s_list}\"")
    if(protos)
      string(APPEND entry " PROTOS \"${p_list}\"")
    endif()
    if(ARG_LIBS)
      string(APPEND entry " LIBS ${l_list}")
    endif()
    string(APPEND entry ")\n")
    set_property(GLOBAL APPEND_STRING PROPERTY Q_FUZZ_FILE_TEXT "${entry}")
    set_property(GLOBAL APPEND PROPERTY Q_FUZZ_TARGETS ${name})
    _q_fuzz_add_test(${ARG_NAME} ${CMAKE_BINARY_DIR}/fuzz-clang/${name} "${seeds}")
  else()
    add_executable(${name} ${sources} ${_q_fuzz_root}/tests/fuzz/standalonedriver.cpp)
    set_target_properties(${name} PROPERTIES AUTOMOC ON AUTORCC ON)
    target_include_directories(${name} PRIVATE ${_q_fuzz_root} ${_q_fuzz_root}/tests ${PROJECT_BINARY_DIR})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    if(protos)
      target_link_libraries(${name} PRIVATE q_proto)
    endif()
    if(Q_FUZZ_DRIVER_ASAN)
      target_compile_options(${name} PRIVATE -fsanitize=address -fno-omit-frame-pointer)
      target_link_options(${name} PRIVATE -fsanitize=address)
    endif()
    _q_fuzz_add_test(${ARG_NAME} $<TARGET_FILE:${name}> "${seeds}")
  endif()
endfunction()

# Runs once at the end of the top-level folder: writes the list of targets
# and adds the clang sub-build that compiles them.
function(_q_fuzz_finalize)
  set(_q_fuzz_root ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/..)
  include(ExternalProject)
  get_property(text GLOBAL PROPERTY Q_FUZZ_FILE_TEXT)
  get_property(targets GLOBAL PROPERTY Q_FUZZ_TARGETS)
  set(list_file ${CMAKE_BINARY_DIR}/fuzz-clang-targets.cmake)
  # Rewritten only when it changes, so the sub-build reconfigures only then.
  file(CONFIGURE OUTPUT ${list_file} CONTENT "${text}" @ONLY)
  set(byproducts "")
  foreach(t ${targets})
    list(APPEND byproducts ${CMAKE_BINARY_DIR}/fuzz-clang/${t})
  endforeach()
  # The sub-build compiles the protocol-buffer sources the main build
  # generates, so they must exist before it starts.
  set(deps "")
  if(TARGET q_proto)
    set(deps DEPENDS q_proto)
  endif()
  ExternalProject_Add(q_fuzzers
    ${deps}
    SOURCE_DIR ${_q_fuzz_root}/tests/fuzz/clang
    BINARY_DIR ${CMAKE_BINARY_DIR}/fuzz-clang
    CMAKE_GENERATOR ${CMAKE_GENERATOR}
    CMAKE_ARGS
      -DCMAKE_CXX_COMPILER=${Q_FUZZ_CLANGXX}
      -DCMAKE_C_COMPILER=${Q_FUZZ_CLANG}
      -DCMAKE_BUILD_TYPE=RelWithDebInfo
      -DQ_PROJECT_ROOT=${_q_fuzz_root}
      -DQ_PROJECT_BINARY_DIR=${PROJECT_BINARY_DIR}
      -DQ_FUZZ_TARGETS_FILE=${list_file}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${byproducts})
endfunction()
