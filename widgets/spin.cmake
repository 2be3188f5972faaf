# The numeric spin edit and its spin button.
target_sources(glowstep_widgets PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/spin_button.h
  ${CMAKE_CURRENT_LIST_DIR}/spin_button.cpp
  ${CMAKE_CURRENT_LIST_DIR}/spin_edit.h
  ${CMAKE_CURRENT_LIST_DIR}/spin_edit.cpp
  ${CMAKE_CURRENT_LIST_DIR}/resources/spin.qrc)
