# The spin button and the numeric spin edit.
glowstep_add_qtest(spin_button_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/spin_button_test.cpp)
