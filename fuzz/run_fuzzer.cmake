# Runs one fuzzer for a bounded time on a copy of its seed corpus, so that
# what it adds to the corpus never lands in the source tree.
#   cmake -DFUZZER=<binary> -DCORPUS=<seed dir> -DSECONDS=<n> -P run_fuzzer.cmake
# On a finding the copy is kept: the failing input is saved beside it.

if(DEFINED ENV{TMPDIR} AND NOT "$ENV{TMPDIR}" STREQUAL "")
  set(base "$ENV{TMPDIR}")
else()
  set(base "/tmp")
endif()
get_filename_component(name "${FUZZER}" NAME)
string(RANDOM LENGTH 10 tag)
set(work "${base}/fanecho-${name}-${tag}")
file(MAKE_DIRECTORY "${work}/corpus" "${work}/findings")
file(GLOB seeds "${CORPUS}/*")
file(COPY ${seeds} DESTINATION "${work}/corpus")

# TMPDIR too, for the files a target writes while it runs.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env TMPDIR=${work}
          "${FUZZER}" -max_total_time=${SECONDS} -rss_limit_mb=2048 -timeout=25
          -print_final_stats=1 -artifact_prefix=${work}/findings/ ${work}/corpus
  RESULT_VARIABLE status
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)

string(REGEX MATCH "Done [0-9]+ runs in [0-9]+ second" done "${output}")
if(NOT status EQUAL 0)
  message("${output}")
  message(FATAL_ERROR "${name}: finding (exit status ${status}); input and corpus kept in ${work}")
endif()
message("${name}: ${done}s")
file(REMOVE_RECURSE "${work}")
