# Tuner back ends: the USBXpress models, the ISDBT driver tuner, the operation
# set dispatching between them, and the real devices over libusb.
find_package(Threads REQUIRED)
add_library(recorder_backends STATIC
  backends/frame_layer.cpp
  backends/usbxpress_tables.cpp
  backends/usbxpress_backend.cpp
  backends/driver_backend.cpp
  backends/tuner_operations.cpp
  backends/libusb_devices.cpp)
target_include_directories(recorder_backends PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/backends)
target_link_libraries(recorder_backends PUBLIC oneseg_common PRIVATE PkgConfig::LIBUSB Threads::Threads)

add_executable(recorder_backends_tests
  backends/tests/usbxpress_backend_test.cpp
  backends/tests/driver_backend_test.cpp
  backends/tests/libusb_devices_test.cpp)
target_link_libraries(recorder_backends_tests PRIVATE recorder_backends oneseg_simtuner GTest::gtest_main)
target_include_directories(recorder_backends_tests PRIVATE ${CMAKE_SOURCE_DIR}/simulator/simtuner/tests)
add_test(NAME recorder_backends_tests COMMAND recorder_backends_tests)

# The recorder process with simulated tuners, once the engine's brannock exists.
function(recorder_backends_add_end_to_end)
  if(TARGET brannock)
    add_executable(recorder_end_to_end_tests ${CMAKE_CURRENT_SOURCE_DIR}/backends/tests/end_to_end_test.cpp)
    target_link_libraries(recorder_end_to_end_tests PRIVATE oneseg_simtuner GTest::gtest_main)
    target_include_directories(recorder_end_to_end_tests PRIVATE ${CMAKE_SOURCE_DIR}/simulator/simtuner/tests)
    target_compile_definitions(recorder_end_to_end_tests PRIVATE BRANNOCK_EXE="$<TARGET_FILE:brannock>")
    add_dependencies(recorder_end_to_end_tests brannock)
    add_test(NAME recorder_end_to_end_tests COMMAND recorder_end_to_end_tests)
    set_tests_properties(recorder_end_to_end_tests PROPERTIES ENVIRONMENT "TZ=Asia/Tokyo" TIMEOUT 180)
  endif()
endfunction()
cmake_language(DEFER CALL recorder_backends_add_end_to_end)
