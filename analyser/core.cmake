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
)
target_include_directories(analyser_lib PUBLIC ${ANALYSER_DIR})
target_link_libraries(analyser_lib PUBLIC oneseg_common)

add_executable(skerrow ${ANALYSER_DIR}/main.cpp)
target_link_libraries(skerrow PRIVATE analyser_lib)
