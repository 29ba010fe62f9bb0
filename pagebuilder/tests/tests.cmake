add_executable(pagebuilder_tests
  ${CMAKE_CURRENT_LIST_DIR}/page_job_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/html_page_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/names_test.cpp)
target_link_libraries(pagebuilder_tests PRIVATE pagebuilder_lib GTest::gtest_main)
add_test(NAME pagebuilder_tests COMMAND pagebuilder_tests)
set_tests_properties(pagebuilder_tests PROPERTIES ENVIRONMENT "TZ=Asia/Tokyo")
