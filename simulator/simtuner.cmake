# Simulated tuner hardware: USBXpress devices and the ISDBT driver tuner
# emulated behind the recorder's two platform interfaces.
add_library(oneseg_simtuner STATIC
  simtuner/sim_config.cpp
  simtuner/station_stream.cpp
  simtuner/receive_queue.cpp
  simtuner/sim_hardware.cpp
  simtuner/usb_device.cpp
  simtuner/driver_device.cpp
  simtuner/sim_interfaces.cpp)
target_include_directories(oneseg_simtuner PUBLIC
  ${CMAKE_CURRENT_SOURCE_DIR}/simtuner ${CMAKE_SOURCE_DIR}/recorder)
target_link_libraries(oneseg_simtuner PUBLIC oneseg_common PRIVATE oneseg_synth nlohmann_json::nlohmann_json)

add_executable(simtuner_tests
  simtuner/tests/sim_config_test.cpp
  simtuner/tests/station_stream_test.cpp
  simtuner/tests/sim_devices_test.cpp)
target_link_libraries(simtuner_tests PRIVATE oneseg_simtuner GTest::gtest_main)
add_test(NAME simtuner_tests COMMAND simtuner_tests)
target_compile_definitions(simtuner_tests PRIVATE ONESEG_SIMTUNER_DIR="${CMAKE_CURRENT_SOURCE_DIR}/simtuner")
target_include_directories(simtuner_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/simtuner/tests)

if(ONESEG_BENCHMARKS)
  add_executable(simtuner_benchmark simtuner/simtuner_benchmark.cpp)
  target_link_libraries(simtuner_benchmark PRIVATE oneseg_simtuner benchmark::benchmark)
  target_include_directories(simtuner_benchmark PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/simtuner/tests)
endif()
