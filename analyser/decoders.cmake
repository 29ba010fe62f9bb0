# Text, descriptor and caption decoders of the analyser (added to the
# analyser library that core.cmake defines), with their tests.
if(TARGET analyser_lib)
  target_sources(analyser_lib PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/arib_text.cpp
    ${CMAKE_CURRENT_LIST_DIR}/arib_tables.cpp
    ${CMAKE_CURRENT_LIST_DIR}/descriptors.cpp
    ${CMAKE_CURRENT_LIST_DIR}/genre_tables.cpp
    ${CMAKE_CURRENT_LIST_DIR}/captions.cpp)

  foreach(name text descriptors captions)
    add_executable(analyser_${name}_test ${CMAKE_CURRENT_LIST_DIR}/tests/${name}_test.cpp)
    target_link_libraries(analyser_${name}_test PRIVATE analyser_lib GTest::gtest_main)
    add_test(NAME analyser_${name}_test COMMAND analyser_${name}_test)
  endforeach()
endif()

if(TARGET analyser_lib AND ONESEG_BENCHMARKS)
  add_executable(analyser_decoders_bench ${CMAKE_CURRENT_LIST_DIR}/bench/decoders_bench.cpp)
  target_link_libraries(analyser_decoders_bench PRIVATE analyser_lib benchmark::benchmark)
endif()

# The real analyser over synthesised recordings.
if(TARGET skerrow AND EXISTS ${CMAKE_SOURCE_DIR}/simulator/synth.cmake)
  add_executable(analyser_e2e_test ${CMAKE_CURRENT_LIST_DIR}/tests/e2e_test.cpp)
  target_link_libraries(analyser_e2e_test PRIVATE oneseg_synth GTest::gtest_main)
  target_compile_definitions(analyser_e2e_test PRIVATE SKERROW_PROGRAM="$<TARGET_FILE:skerrow>")
  add_dependencies(analyser_e2e_test skerrow)
  add_test(NAME analyser_e2e_test COMMAND analyser_e2e_test)
endif()
