# Tests of the slider and the LED, and a small program that shows them.
glowstep_add_qtest(slider_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/slider_test.cpp)
glowstep_add_qtest(led_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/led_test.cpp)

add_executable(slider_led_preview ${PROJECT_SOURCE_DIR}/tools/slider_led_preview/main.cpp)
target_link_libraries(slider_led_preview PRIVATE glowstep_widgets glowstep_warnings)
