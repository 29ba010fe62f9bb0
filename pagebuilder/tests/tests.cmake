add_executable(pagebuilder_tests
  ${CMAKE_CURRENT_LIST_DIR}/page_job_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/html_page_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/names_test.cpp)
target_link_libraries(pagebuilder_tests PRIVATE pagebuilder_lib GTest::gtest_main)
add_test(NAME pagebuilder_tests COMMAND pagebuilder_tests)
set_tests_properties(pagebuilder_tests PROPERTIES ENVIRONMENT "TZ=Asia/Tokyo")

add_executable(pagebuilder_window_test ${CMAKE_CURRENT_LIST_DIR}/window_test.cpp)
set_target_properties(pagebuilder_window_test PROPERTIES AUTOMOC ON)
target_include_directories(pagebuilder_window_test PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(pagebuilder_window_test PRIVATE pagebuilder_window Qt6::Test)
add_test(NAME pagebuilder_window_test COMMAND pagebuilder_window_test)
set_tests_properties(pagebuilder_window_test PROPERTIES ENVIRONMENT "TZ=Asia/Tokyo;QT_QPA_PLATFORM=offscreen;ONESEG_TIME_SCALE=0.1")

add_executable(pagebuilder_e2e_test ${CMAKE_CURRENT_LIST_DIR}/e2e_test.cpp)
target_link_libraries(pagebuilder_e2e_test PRIVATE pagebuilder_lib GTest::gtest_main)
target_compile_definitions(pagebuilder_e2e_test PRIVATE PELLATT_PATH="$<TARGET_FILE:pellatt>")
add_dependencies(pagebuilder_e2e_test pellatt)
add_test(NAME pagebuilder_e2e_test COMMAND pagebuilder_e2e_test)
set_tests_properties(pagebuilder_e2e_test PROPERTIES ENVIRONMENT "TZ=Asia/Tokyo")

# Following the recorder, with the suite's synthesiser and analyser.
if(TARGET oneseg-synth AND TARGET skerrow)
  add_executable(pagebuilder_follow_test ${CMAKE_CURRENT_LIST_DIR}/follow_test.cpp)
  target_include_directories(pagebuilder_follow_test PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(pagebuilder_follow_test PRIVATE pagebuilder_lib nlohmann_json::nlohmann_json GTest::gtest_main)
  target_compile_definitions(pagebuilder_follow_test PRIVATE
    PELLATT_PATH="$<TARGET_FILE:pellatt>"
    SYNTH_EXE="$<TARGET_FILE:oneseg-synth>"
    SCENARIO="${PROJECT_SOURCE_DIR}/simulator/scenarios/hibari_ch27_day.json")
  add_dependencies(pagebuilder_follow_test pellatt skerrow oneseg-synth)
  add_test(NAME pagebuilder_follow_test COMMAND pagebuilder_follow_test)
  set_tests_properties(pagebuilder_follow_test PROPERTIES ENVIRONMENT "TZ=Asia/Tokyo" TIMEOUT 600)
endif()
