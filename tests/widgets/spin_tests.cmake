# The spin button and the numeric spin edit.
glowstep_add_qtest(spin_button_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/spin_button_test.cpp)
glowstep_add_qtest(spin_edit_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/spin_edit_test.cpp)

# A window to try the fields by hand; not a test.
add_executable(spin_preview ${CMAKE_CURRENT_LIST_DIR}/spin_preview.cpp)
target_link_libraries(spin_preview PRIVATE glowstep_widgets glowstep_warnings)
