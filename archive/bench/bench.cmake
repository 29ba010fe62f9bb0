# The archive's benchmark: a generated year of captions and listings (no .ts),
# index build, adding a recording, search against grep, database size, and
# the health pass over a synthesised recording. A tiny run is a smoke test.
if(ONESEG_BENCHMARKS)
  add_executable(archive_bench ${CMAKE_CURRENT_LIST_DIR}/archive_bench.cpp ${CMAKE_CURRENT_LIST_DIR}/corpus.cpp)
  target_link_libraries(archive_bench PRIVATE oneseg_archive_core oneseg_synth)
  target_compile_definitions(archive_bench PRIVATE SYNTH_SCENARIO_DIR="${CMAKE_SOURCE_DIR}/simulator/scenarios")
  add_test(NAME archive_bench_smoke COMMAND archive_bench --days 2 --runs 2)
endif()
