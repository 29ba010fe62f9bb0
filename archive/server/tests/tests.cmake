# The server's tests: its pure parts (gtest), its API over real recordings
# (Python client, real ffmpeg) and its pages in Debian's Chromium (Node).
set(_server_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests)
add_executable(archive_server_unit_test ${_server_tests}/server_unit_test.cpp ${_server_tests}/viewer_unit_test.cpp)
target_link_libraries(archive_server_unit_test PRIVATE oneseg_archive_server GTest::gtest_main)
add_test(NAME archive_server_unit_test COMMAND archive_server_unit_test)
add_executable(archive_live_programme_test ${_server_tests}/live_programme_test.cpp)
target_link_libraries(archive_live_programme_test PRIVATE oneseg_archive_server GTest::gtest_main)
add_test(NAME archive_live_programme_test COMMAND archive_live_programme_test)

# Recordings synthesised and analysed once for both of the following.
set(_material ${CMAKE_BINARY_DIR}/archive_web_material)
add_test(NAME archive_web_material
         COMMAND ${_server_tests}/make_material.sh $<TARGET_FILE_DIR:oneseg-archive> ${_material})
set_tests_properties(archive_web_material PROPERTIES FIXTURES_SETUP archive_web_material TIMEOUT 600)

add_test(NAME archive_server_api_test
         COMMAND python3 ${_server_tests}/api_test.py --bin $<TARGET_FILE_DIR:oneseg-archive> --material ${_material})
add_test(NAME archive_browser_test
         COMMAND ${CMAKE_SOURCE_DIR}/tests/browser/run_archive_test.sh $<TARGET_FILE_DIR:oneseg-archive> ${_material}
                 ${CMAKE_BINARY_DIR}/archive_browser_test)
set_tests_properties(archive_server_api_test archive_browser_test PROPERTIES
                     FIXTURES_REQUIRED archive_web_material TIMEOUT 300 ENVIRONMENT "TZ=Asia/Tokyo")

# Live and whole-programme pages in Chromium, each over a root of its own:
# the live test writes its growing recordings into an empty one; the
# programme test serves the recordings above with the third of its programme.
set(_live_material ${CMAKE_BINARY_DIR}/archive_live_material)
add_test(NAME archive_live_material COMMAND sh -c [[rm -rf "$1" && mkdir -p "$1/rec/261207" &&
  ln "$2/rec/261207/261207180_Ch27.ts" "$1/source.ts" && ln "$2/rec/261207/261207180_Ch27.sub" "$1/source.sub" &&
  ln "$2/ch27.truth.json" "$1/ch27.truth.json"]] sh ${_live_material} ${_material})
set(_programme_material ${CMAKE_BINARY_DIR}/archive_programme_material)
add_test(NAME archive_programme_material COMMAND sh -c [[rm -rf "$1" && mkdir -p "$1/rec/261207" &&
  ln "$2"/rec/261207/* "$2"/programme/261207/* "$1/rec/261207/" && ln "$2/ch27.truth.json" "$1/"]]
  sh ${_programme_material} ${_material})
set_tests_properties(archive_live_material PROPERTIES FIXTURES_SETUP archive_live_material
                     FIXTURES_REQUIRED archive_web_material)
set_tests_properties(archive_programme_material PROPERTIES FIXTURES_SETUP archive_programme_material
                     FIXTURES_REQUIRED archive_web_material)
foreach(_group live programme)
  add_test(NAME archive_${_group}_browser_test
           COMMAND ${CMAKE_SOURCE_DIR}/tests/browser/run_archive_test.sh $<TARGET_FILE_DIR:oneseg-archive>
                   ${_${_group}_material} ${CMAKE_BINARY_DIR}/archive_${_group}_browser_test)
  set_tests_properties(archive_${_group}_browser_test PROPERTIES FIXTURES_REQUIRED archive_${_group}_material
                       TIMEOUT 300 ENVIRONMENT "TZ=Asia/Tokyo;ONESEG_BROWSER_SCRIPT=${_group}_test.mjs")
endforeach()

# Live captions and alerts with the recorder writing on a simulated tuner
# (Debian's python3 for its feedparser).
add_test(NAME archive_live_alerts_test
         COMMAND /usr/bin/python3 ${_server_tests}/live_alerts_test.py --bin $<TARGET_FILE_DIR:oneseg-archive>
                 --scenarios ${CMAKE_SOURCE_DIR}/simulator/scenarios)
set_tests_properties(archive_live_alerts_test PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE ENVIRONMENT "TZ=Asia/Tokyo")

# The search's timeline chart and facets in Chromium.
add_test(NAME archive_insight_browser_test
         COMMAND ${CMAKE_SOURCE_DIR}/tests/browser/run_archive_test.sh $<TARGET_FILE_DIR:oneseg-archive> ${_material}
                 ${CMAKE_BINARY_DIR}/archive_insight_browser_test)
set_tests_properties(archive_insight_browser_test PROPERTIES FIXTURES_REQUIRED archive_web_material TIMEOUT 300
                     ENVIRONMENT "TZ=Asia/Tokyo;ONESEG_BROWSER_SCRIPT=insight_test.mjs")

# The recording view's player: captions, transcript, strip, export, saved clips, a phone's width.
add_test(NAME archive_viewer_browser_test
         COMMAND ${CMAKE_SOURCE_DIR}/tests/browser/run_archive_test.sh $<TARGET_FILE_DIR:oneseg-archive> ${_material}
                 ${CMAKE_BINARY_DIR}/archive_viewer_browser_test)
set_tests_properties(archive_viewer_browser_test PROPERTIES
                     FIXTURES_REQUIRED archive_web_material TIMEOUT 300
                     ENVIRONMENT "TZ=Asia/Tokyo;ONESEG_BROWSER_SCRIPT=viewer_test.mjs")
