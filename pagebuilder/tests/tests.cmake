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
set_tests_properties(pagebuilder_window_test PROPERTIES ENVIRONMENT "TZ=Asia/Tokyo;QT_QPA_PLATFORM=offscreen")

add_executable(pagebuilder_e2e_test ${CMAKE_CURRENT_LIST_DIR}/e2e_test.cpp)
target_link_libraries(pagebuilder_e2e_test PRIVATE pagebuilder_lib GTest::gtest_main)
target_compile_definitions(pagebuilder_e2e_test PRIVATE PELLATT_PATH="$<TARGET_FILE:pellatt>")
add_dependencies(pagebuilder_e2e_test pellatt)
add_test(NAME pagebuilder_e2e_test COMMAND pagebuilder_e2e_test)
set_tests_properties(pagebuilder_e2e_test PROPERTIES ENVIRONMENT "TZ=Asia/Tokyo")
