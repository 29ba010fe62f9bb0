# The recorder engine: settings, discovery, supervisor, recording loop,
# retention, and the window-less runner. No QtWidgets here: the window links it.
add_library(recorder_engine STATIC
  ${CMAKE_CURRENT_LIST_DIR}/tuner.cpp
  ${CMAKE_CURRENT_LIST_DIR}/datetime.cpp
  ${CMAKE_CURRENT_LIST_DIR}/settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/engine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/notice_gate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/discovery.cpp
  ${CMAKE_CURRENT_LIST_DIR}/supervisor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device_steps.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tuner_steps.cpp
  ${CMAKE_CURRENT_LIST_DIR}/time_packet.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ts_framer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/recording_files.cpp
  ${CMAKE_CURRENT_LIST_DIR}/index_record.cpp
  ${CMAKE_CURRENT_LIST_DIR}/write_queue.cpp
  ${CMAKE_CURRENT_LIST_DIR}/recording_folder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/recording_loop.cpp
  ${CMAKE_CURRENT_LIST_DIR}/retention.cpp
  ${CMAKE_CURRENT_LIST_DIR}/retention_clock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/instance_lock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/priority.cpp
  ${CMAKE_CURRENT_LIST_DIR}/system_clock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stop_signals.cpp
  ${CMAKE_CURRENT_LIST_DIR}/usb_ids.cpp
  ${CMAKE_CURRENT_LIST_DIR}/headless.cpp)
target_include_directories(recorder_engine PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(recorder_engine PUBLIC oneseg_common Qt6::Core)

if(TARGET recorder_backends AND TARGET oneseg_simtuner)
  add_executable(brannock ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
  target_link_libraries(brannock PRIVATE recorder_engine recorder_backends oneseg_simtuner)
  target_compile_definitions(brannock PRIVATE ONESEG_VERSION="${PROJECT_VERSION}")
  # The window library is defined after this file; it provides
  # RunWindow (window_main.h) and is linked once it exists.
  function(brannock_link_window)
    if(TARGET recorder_window)
      target_link_libraries(brannock PRIVATE recorder_window)
      target_compile_definitions(brannock PRIVATE BRANNOCK_WITH_WINDOW)
    endif()
  endfunction()
  cmake_language(DEFER CALL brannock_link_window)
endif()

add_executable(recorder_engine_tests
  ${CMAKE_CURRENT_LIST_DIR}/tests/engine_fakes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/engine_discovery_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/engine_supervisor_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/engine_steps_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/engine_notice_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/engine_recording_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/engine_retention_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/engine_settings_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/ts_framer_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/engine_write_queue_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/retention_clock_test.cpp)
target_link_libraries(recorder_engine_tests PRIVATE recorder_engine GTest::gtest_main)
if(TARGET brannock)
  # The window-less program as a real process.
  target_sources(recorder_engine_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/tests/engine_process_test.cpp)
  target_compile_definitions(recorder_engine_tests PRIVATE BRANNOCK_PATH="$<TARGET_FILE:brannock>")
  add_dependencies(recorder_engine_tests brannock)
endif()
add_test(NAME recorder_engine_tests COMMAND recorder_engine_tests)

if(ONESEG_BENCHMARKS AND TARGET benchmark::benchmark)
  add_executable(recorder_engine_benchmark
    ${CMAKE_CURRENT_LIST_DIR}/tests/engine_fakes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tests/engine_benchmark.cpp)
  target_link_libraries(recorder_engine_benchmark PRIVATE recorder_engine benchmark::benchmark)
endif()
