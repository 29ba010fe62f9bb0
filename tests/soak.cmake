# The recorder soak: brannock --headless on simulated tuners with injected
# faults (a few broadcast hours at a high speed factor, across broadcast
# midnight, the recording folder on a loop-mounted ext4 when run as root), and
# the tests of the soak's own checker. tools/soak.sh makes the long run.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND AND TARGET brannock)
  add_test(NAME recorder_soak
    COMMAND Python3::Interpreter ${CMAKE_CURRENT_LIST_DIR}/soak/soak.py
            --brannock $<TARGET_FILE:brannock> --work ${CMAKE_CURRENT_BINARY_DIR}/soak_work
            --hours 7 --speed 360 --seed 1 --load)
  add_test(NAME soak_checker_tests
    COMMAND Python3::Interpreter -m unittest discover -s ${CMAKE_CURRENT_LIST_DIR}/soak -p "test_*.py")
  # Real time matters to the watchdog and the stall figures: the soak runs alone.
  set_tests_properties(recorder_soak PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
  set_tests_properties(recorder_soak soak_checker_tests PROPERTIES
    LABELS soak ENVIRONMENT PYTHONDONTWRITEBYTECODE=1)
endif()
