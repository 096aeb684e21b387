# The reference search service, tested as a running process over loopback.

# Starts the real yuming-service for a test; the lead's end-to-end tests link it too.
add_library(yuming_service_support STATIC support/service_process.cpp)
target_include_directories(yuming_service_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(yuming_service_support PUBLIC Qt6::Core)
target_compile_definitions(yuming_service_support PRIVATE YUMING_SERVICE_BIN="$<TARGET_FILE:yuming-service>")
add_dependencies(yuming_service_support yuming-service)
yuming_warnings(yuming_service_support)

# A loopback RDAP server (HTTP or HTTPS) that tests script.
find_package(Boost 1.74 REQUIRED)
find_package(OpenSSL REQUIRED)
find_package(ZLIB REQUIRED)
# Zip archives written by the import's tests.
find_package(LibArchive 3.3 REQUIRED)
add_library(yuming_rdap_fixture STATIC support/rdap_fixture.cpp)
target_include_directories(yuming_rdap_fixture PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(yuming_rdap_fixture PUBLIC Threads::Threads PRIVATE Boost::headers OpenSSL::SSL OpenSSL::Crypto)
yuming_warnings(yuming_rdap_fixture)

yuming_add_test(service_test
  SOURCES service_search_test.cpp service_http_test.cpp service_front_test.cpp service_query_test.cpp service_files_test.cpp
          service_rdap_data_test.cpp service_http_client_test.cpp service_feed_fetch_test.cpp service_import_url_test.cpp
          service_catalog_test.cpp service_import_test.cpp service_list_formats_test.cpp service_feed_test.cpp
          service_learned_test.cpp service_shown_dates_test.cpp service_watch_test.cpp
          service_test_util.cpp support/zip_writer.cpp
  LIBS yuming_service_support yuming_service_lib yuming_rdap_fixture yuming_core Qt6::Network SQLite::SQLite3
       ZLIB::ZLIB LibArchive::LibArchive)

yuming_add_replay(fuzz_search_query search_query fuzz/fuzz_search_query.cpp yuming_protocol)
yuming_add_replay(fuzz_drop_list drop_list fuzz/fuzz_drop_list.cpp yuming_service_lib)

# The watchlist's notifications: texts and the user's command here; the desktop's on a private
# session bus of the test's own, under dbus-run-session.
yuming_add_test(notifier_test SOURCES notifier_test.cpp LIBS yuming_service_lib)
find_program(DBUS_RUN_SESSION dbus-run-session REQUIRED)
add_executable(notifier_bus_test notifier_bus_test.cpp)
target_link_libraries(notifier_bus_test PRIVATE yuming_service_lib yuming_service_support yuming_rdap_fixture
                                                yuming_test_support GTest::gtest Qt6::DBus PkgConfig::LIBICAL)
target_compile_definitions(notifier_bus_test PRIVATE YUMING_CLI_BIN="$<TARGET_FILE:yuming-cli>")
add_dependencies(notifier_bus_test yuming-cli)
set_target_properties(notifier_bus_test PROPERTIES AUTOMOC ON)
yuming_warnings(notifier_bus_test)
add_test(NAME notifier_bus_test COMMAND ${DBUS_RUN_SESSION} -- $<TARGET_FILE:notifier_bus_test>)
set_tests_properties(notifier_bus_test PROPERTIES TIMEOUT 60)
