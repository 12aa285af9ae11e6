# Runs one fuzz target for a bounded time: cmake -DFUZZER=... -DWORK_DIR=...
# [-DSEEDS=folder] -DSECONDS=n -P runfuzz.cmake. New inputs a libFuzzer run
# finds go to WORK_DIR (inside the build folder); the seed folder in the
# source tree is only read.
if(NOT EXISTS "${FUZZER}")
  message(FATAL_ERROR "fuzz target ${FUZZER} was not built")
endif()
file(MAKE_DIRECTORY "${WORK_DIR}")
set(dirs "${WORK_DIR}")
if(SEEDS)
  list(APPEND dirs "${SEEDS}")
endif()
execute_process(
  COMMAND "${FUZZER}" -max_total_time=${SECONDS} -timeout=10 -rss_limit_mb=1024 -max_len=65536
          -print_final_stats=1 "-artifact_prefix=${WORK_DIR}/" ${dirs}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "fuzz target ${FUZZER} failed (${rc}); the input that failed is saved in ${WORK_DIR}")
endif()
