# The one-segment stream synthesiser: library, command-line tool and tests.
set(SYNTH_DIR ${CMAKE_CURRENT_LIST_DIR}/synth)

add_library(oneseg_synth STATIC
  ${SYNTH_DIR}/ts_packets.cpp
  ${SYNTH_DIR}/sections.cpp
  ${SYNTH_DIR}/jst_clock.cpp
  ${SYNTH_DIR}/arib_text.cpp
  ${SYNTH_DIR}/si_tables.cpp
  ${SYNTH_DIR}/caption_pes.cpp
  ${SYNTH_DIR}/time_packet.cpp
  ${SYNTH_DIR}/scenario.cpp
  ${SYNTH_DIR}/av_source.cpp
  ${SYNTH_DIR}/mux.cpp
  ${SYNTH_DIR}/synthesize.cpp
  ${SYNTH_DIR}/synth_cli.cpp)
target_include_directories(oneseg_synth PUBLIC ${SYNTH_DIR})
target_link_libraries(oneseg_synth PUBLIC oneseg_common nlohmann_json::nlohmann_json)

add_executable(oneseg-synth ${SYNTH_DIR}/main.cpp)
target_link_libraries(oneseg-synth PRIVATE oneseg_synth)

set(SYNTH_SCENARIO_DIR ${CMAKE_CURRENT_LIST_DIR}/scenarios)
file(GLOB SYNTH_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/tests/synth_*.cpp)
if(SYNTH_TEST_SOURCES)
  add_executable(synth_tests ${SYNTH_TEST_SOURCES})
  target_link_libraries(synth_tests PRIVATE oneseg_synth PkgConfig::DVBPSI GTest::gtest_main)
  target_compile_definitions(synth_tests PRIVATE
    SYNTH_SCENARIO_DIR="${SYNTH_SCENARIO_DIR}"
    SYNTH_TOOL="$<TARGET_FILE:oneseg-synth>")
  add_dependencies(synth_tests oneseg-synth)
  # The tests that run the real ffmpeg are a test of their own, so that ctest -j
  # runs them beside the rest.
  add_test(NAME synth_tests COMMAND synth_tests --gtest_filter=-WithPicture.*)
  add_test(NAME synth_picture_tests COMMAND synth_tests --gtest_filter=WithPicture.*)
endif()

if(ONESEG_BENCHMARKS)
  add_executable(synth_benchmark ${SYNTH_DIR}/synth_benchmark.cpp)
  target_link_libraries(synth_benchmark PRIVATE oneseg_synth benchmark::benchmark)
  target_compile_definitions(synth_benchmark PRIVATE SYNTH_SCENARIO_DIR="${SYNTH_SCENARIO_DIR}")
endif()
