# The recorder's main window, storage-days dialog and notification-area icon,
# a view over the engine that the window's timers drive.
if(TARGET recorder_engine)
  find_package(Qt6 REQUIRED COMPONENTS DBus)
  add_library(recorder_window STATIC
    window/days_form.cpp
    window/desktop_notice.cpp
    window/oneseg_form.cpp
    window/screenshot.cpp
    window/tray_icon.cpp
    window/form_style.cpp
    window/up_down.cpp
    window/window_main.cpp)
  set_target_properties(recorder_window PROPERTIES AUTOMOC ON)
  target_include_directories(recorder_window PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/window)
  target_link_libraries(recorder_window PUBLIC recorder_engine Qt6::Widgets Qt6::DBus)
  qt_add_resources(recorder_window brannock_icons
    PREFIX /brannock
    BASE ${CMAKE_CURRENT_SOURCE_DIR}/window/icons
    FILES
      ${CMAKE_CURRENT_SOURCE_DIR}/window/icons/brannock-16.png
      ${CMAKE_CURRENT_SOURCE_DIR}/window/icons/brannock-32.png
      ${CMAKE_CURRENT_SOURCE_DIR}/window/icons/brannock-48.png
      ${CMAKE_CURRENT_SOURCE_DIR}/window/icons/brannock-64.png)
  qt_add_resources(recorder_window brannock_svg_icon
    PREFIX /brannock
    BASE ${CMAKE_SOURCE_DIR}/packaging/icons
    FILES ${CMAKE_SOURCE_DIR}/packaging/icons/brannock.svg)

  if(TARGET brannock)
    target_link_libraries(brannock PRIVATE recorder_window)
  endif()

  add_executable(recorder_window_tests
    tests/window_test_main.cpp
    tests/window_days_test.cpp
    tests/window_form_test.cpp
    tests/window_tray_test.cpp
    tests/window_process_test.cpp
    tests/window_notice_test.cpp
    tests/engine_fakes.cpp)
  set_target_properties(recorder_window_tests PROPERTIES AUTOMOC ON)
  target_link_libraries(recorder_window_tests PRIVATE recorder_window Qt6::Test)
  if(TARGET brannock)
    target_compile_definitions(recorder_window_tests PRIVATE BRANNOCK_PROGRAM="$<TARGET_FILE:brannock>")
  else()
    target_compile_definitions(recorder_window_tests PRIVATE BRANNOCK_PROGRAM="")
  endif()
  add_test(NAME recorder_window_tests COMMAND recorder_window_tests)
  set_tests_properties(recorder_window_tests PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TZ=Asia/Tokyo")
endif()
