# Stream analyser core: batch driver, packet layer, sections and PSI/SI tables,
# the shared analysis state and the buffered text writer. The decoders
# (decoders.cmake) add their sources to analyser_lib.
set(ANALYSER_DIR ${CMAKE_CURRENT_SOURCE_DIR})
add_library(analyser_lib STATIC
  ${ANALYSER_DIR}/text_writer.cpp
  ${ANALYSER_DIR}/ts_packet.cpp
  ${ANALYSER_DIR}/analysis_state.cpp
)
target_include_directories(analyser_lib PUBLIC ${ANALYSER_DIR})
target_link_libraries(analyser_lib PUBLIC oneseg_common)
