# Tests of the slider and the LED.
glowstep_add_qtest(led_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/led_test.cpp)
