# The clinic payment command (unit uMain): the command object handed out for
# "IQVClinicalPayment" with the adapter it derives from. The module links it.
add_library(qv_plugin_command STATIC ${CMAKE_CURRENT_LIST_DIR}/uMain.cpp ${CMAKE_CURRENT_LIST_DIR}/uMain.h)
target_include_directories(qv_plugin_command PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(qv_plugin_command PUBLIC qv_plugin_framework qv_plugin_window qv_plugin_ui)
