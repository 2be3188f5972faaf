# The slider, the LED indicator and their built-in pictures.
target_sources(glowstep_widgets PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/led.cpp
  ${CMAKE_CURRENT_LIST_DIR}/led.h
  ${CMAKE_CURRENT_LIST_DIR}/slider.cpp
  ${CMAKE_CURRENT_LIST_DIR}/slider.h
  ${CMAKE_CURRENT_LIST_DIR}/slider_led_bitmaps.cpp
  ${CMAKE_CURRENT_LIST_DIR}/slider_led_bitmaps.h)
