# Stream analyser core: batch driver, packet layer, sections and PSI/SI tables,
# the shared analysis state and the buffered text writer. The decoders
# (decoders.cmake) add their sources to analyser_lib.
set(ANALYSER_DIR ${CMAKE_CURRENT_SOURCE_DIR})
add_library(analyser_lib STATIC
  ${ANALYSER_DIR}/text_writer.cpp
  ${ANALYSER_DIR}/ts_packet.cpp
  ${ANALYSER_DIR}/analysis_state.cpp
  ${ANALYSER_DIR}/pid_table.cpp
  ${ANALYSER_DIR}/packet_layer.cpp
  ${ANALYSER_DIR}/section.cpp
  ${ANALYSER_DIR}/si_tables.cpp
  ${ANALYSER_DIR}/mjd_time.cpp
  ${ANALYSER_DIR}/read_loop.cpp
  ${ANALYSER_DIR}/batch_driver.cpp
  ${ANALYSER_DIR}/output_file.cpp
)
target_include_directories(analyser_lib PUBLIC ${ANALYSER_DIR})
target_link_libraries(analyser_lib PUBLIC oneseg_common)

add_executable(skerrow ${ANALYSER_DIR}/main.cpp ${ANALYSER_DIR}/stop_signals.cpp)
target_link_libraries(skerrow PRIVATE analyser_lib)
target_compile_definitions(skerrow PRIVATE ONESEG_VERSION="${PROJECT_VERSION}")

# Tests
add_library(analyser_test_support STATIC ${ANALYSER_DIR}/tests/stream_builder.cpp)
target_include_directories(analyser_test_support PUBLIC ${ANALYSER_DIR}/tests)
target_link_libraries(analyser_test_support PUBLIC analyser_lib)

foreach(name text_writer packet_layer section si_tables batch_driver)
  add_executable(analyser_${name}_test ${ANALYSER_DIR}/tests/${name}_test.cpp)
  target_link_libraries(analyser_${name}_test PRIVATE analyser_test_support GTest::gtest_main)
  # Tests describe packets with designated initializers that leave fields at their defaults.
  target_compile_options(analyser_${name}_test PRIVATE -Wno-missing-field-initializers)
  add_test(NAME analyser_${name}_test COMMAND analyser_${name}_test)
endforeach()

add_executable(analyser_process_test ${ANALYSER_DIR}/tests/process_test.cpp)
target_link_libraries(analyser_process_test PRIVATE analyser_test_support GTest::gtest_main)
target_compile_definitions(analyser_process_test PRIVATE SKERROW_PATH="$<TARGET_FILE:skerrow>")
add_dependencies(analyser_process_test skerrow)
add_test(NAME analyser_process_test COMMAND analyser_process_test)
set_tests_properties(analyser_process_test PROPERTIES ENVIRONMENT "TZ=Asia/Tokyo")

if(ONESEG_BENCHMARKS)
  add_executable(analyser_bench ${ANALYSER_DIR}/bench/analyser_bench.cpp)
  target_link_libraries(analyser_bench PRIVATE analyser_test_support benchmark::benchmark)
endif()

# Fuzzing. The smoke test builds the fuzz target with clang++ itself (so it
# runs whatever compiler the main build uses) and runs a bounded number of
# inputs over the committed seed streams.
get_target_property(_common_dir oneseg_common SOURCE_DIR)
get_target_property(_common_listed oneseg_common SOURCES)
set(_common_sources)
foreach(_source IN LISTS _common_listed)
  cmake_path(ABSOLUTE_PATH _source BASE_DIRECTORY ${_common_dir})
  list(APPEND _common_sources ${_source})
endforeach()
set(_fuzz_dir ${CMAKE_BINARY_DIR}/analyser_fuzz)
file(GENERATE OUTPUT ${_fuzz_dir}/sources.txt
     CONTENT "$<JOIN:$<TARGET_PROPERTY:analyser_lib,SOURCES>;${_common_sources};${ANALYSER_DIR}/fuzz/fuzz_analyser.cpp,\n>\n")
file(GENERATE OUTPUT ${_fuzz_dir}/includes.txt
     CONTENT "$<JOIN:$<TARGET_PROPERTY:analyser_lib,INTERFACE_INCLUDE_DIRECTORIES>;$<TARGET_PROPERTY:oneseg_common,INTERFACE_INCLUDE_DIRECTORIES>,\n>\n")
add_test(NAME analyser_fuzz_smoke
         COMMAND sh ${ANALYSER_DIR}/fuzz/run_fuzz.sh ${_fuzz_dir} ${ANALYSER_DIR}/fuzz/seeds 20000)
set_tests_properties(analyser_fuzz_smoke PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)

if(ONESEG_FUZZ)
  target_compile_options(analyser_lib PRIVATE -fsanitize=fuzzer-no-link)
  add_executable(analyser_fuzz ${ANALYSER_DIR}/fuzz/fuzz_analyser.cpp)
  target_link_libraries(analyser_fuzz PRIVATE analyser_lib)
  target_compile_options(analyser_fuzz PRIVATE -fsanitize=fuzzer)
  target_link_options(analyser_fuzz PRIVATE -fsanitize=fuzzer)
endif()
