# The stand-in dialog manager: the main dialog built from the template in
# resources/, its controls by id, timers, message boxes and the file dialog.
add_library(dlg STATIC
  ${CMAKE_CURRENT_LIST_DIR}/dlg.h
  ${CMAKE_CURRENT_LIST_DIR}/dlg_window.h
  ${CMAKE_CURRENT_LIST_DIR}/dlg_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dlg_api.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dlg_signals.cpp
)
target_include_directories(dlg PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(dlg PUBLIC Qt6::Widgets pane resources)
