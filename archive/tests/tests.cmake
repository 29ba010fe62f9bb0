# Tests of oneseg-archive, over real files and a real SQLite database.
set(ARCHIVE_TEST_DIR ${CMAKE_CURRENT_LIST_DIR})

add_executable(archive_index_test ${ARCHIVE_TEST_DIR}/index_test.cpp)
target_link_libraries(archive_index_test PRIVATE oneseg_archive_core GTest::gtest_main)
target_compile_options(archive_index_test PRIVATE -Wno-missing-field-initializers)
add_test(NAME archive_index_test COMMAND archive_index_test)

# Synthesised recordings analysed by the real skerrow, the real command line.
add_executable(archive_e2e_test ${ARCHIVE_TEST_DIR}/e2e_test.cpp)
target_link_libraries(archive_e2e_test PRIVATE oneseg_archive_core oneseg_synth GTest::gtest_main)
target_compile_options(archive_e2e_test PRIVATE -Wno-missing-field-initializers)
target_compile_definitions(archive_e2e_test PRIVATE
  SKERROW_PROGRAM="$<TARGET_FILE:skerrow>"
  ARCHIVE_PROGRAM="$<TARGET_FILE:oneseg-archive>"
  SYNTH_SCENARIO_DIR="${CMAKE_SOURCE_DIR}/simulator/scenarios")
add_dependencies(archive_e2e_test skerrow oneseg-archive)
add_test(NAME archive_e2e_test COMMAND archive_e2e_test)
set_tests_properties(archive_e2e_test archive_index_test PROPERTIES ENVIRONMENT "TZ=Asia/Tokyo")

add_executable(archive_files_test ${ARCHIVE_TEST_DIR}/files_test.cpp)
target_link_libraries(archive_files_test PRIVATE oneseg_archive_core GTest::gtest_main)
add_test(NAME archive_files_test COMMAND archive_files_test)
