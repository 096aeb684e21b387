# The window: start-up, layout, wiring, banner and the program itself.
if(TARGET yuming_window)
  yuming_add_test(frmmain_test
    SOURCES frmmain_startup.cpp frmmain_search.cpp app_banner_test.cpp app_settings_test.cpp
      app_message_box_test.cpp
    LIBS yuming_window)
  if(TARGET yuming_service_support)
    yuming_add_test(frmmain_service_test SOURCES frmmain_service.cpp LIBS yuming_window yuming_service_support SQLite::SQLite3)
  endif()
  yuming_add_test(export_test SOURCES app_export_dialog_test.cpp frmmain_export.cpp LIBS yuming_window)
  yuming_add_test(watchlist_window_test SOURCES watchlist_window_test.cpp support/watch_api_server.cpp
    service_test_util.cpp LIBS yuming_window yuming_service_support SQLite::SQLite3)
  target_compile_definitions(watchlist_window_test PRIVATE YUMING_PROGRAM="$<TARGET_FILE:yuming>")
  add_dependencies(watchlist_window_test yuming)
  yuming_add_test(app_program_test SOURCES app_program_test.cpp LIBS Qt6::Core)
  target_compile_definitions(app_program_test PRIVATE YUMING_PROGRAM="$<TARGET_FILE:yuming>")
  add_dependencies(app_program_test yuming)
endif()
