yuming_add_test(text_test SOURCES text_test.cpp LIBS yuming_text)
yuming_add_test(search_logic_test SOURCES search_query_test.cpp result_parser_test.cpp paging_test.cpp lookup_test.cpp
  LIBS yuming_core)
yuming_add_test(fetch_test SOURCES fetch_test.cpp receive_path_test.cpp LIBS yuming_core)
add_executable(lock_holder support/lock_holder.cpp)
target_link_libraries(lock_holder PRIVATE yuming_service_record)
yuming_warnings(lock_holder)
target_compile_definitions(fetch_test PRIVATE YUMING_LOCK_HOLDER="$<TARGET_FILE:lock_holder>")
add_dependencies(fetch_test lock_holder)
yuming_add_test(cli_test SOURCES cli_test.cpp LIBS yuming_cli)
target_compile_definitions(cli_test PRIVATE YUMING_CLI_BIN="$<TARGET_FILE:yuming-cli>")
add_dependencies(cli_test yuming-cli)
# The tool against the real reference service (tests/support/service_process.h starts it).
find_package(SQLite3 REQUIRED)
yuming_add_test(service_e2e_test SOURCES service_e2e_test.cpp LIBS yuming_core yuming_service_support SQLite::SQLite3)
target_compile_definitions(service_e2e_test PRIVATE YUMING_CLI_BIN="$<TARGET_FILE:yuming-cli>")
add_dependencies(service_e2e_test yuming-cli)
yuming_add_test(service_rdap_test SOURCES service_rdap_test.cpp
  LIBS yuming_core yuming_service_support yuming_rdap_fixture SQLite::SQLite3 Qt6::Network)
yuming_add_test(fault_suite_test SOURCES fault_suite_test.cpp LIBS yuming_core)
yuming_add_replay(fuzz_result_parser result_page fuzz/fuzz_result_parser.cpp yuming_core)
yuming_add_replay(fuzz_lookup_parser lookup_page fuzz/fuzz_lookup_parser.cpp yuming_core)
yuming_add_replay(fuzz_receive_path receive_path fuzz/fuzz_receive_path.cpp yuming_core)
add_executable(log_writer support/log_writer.cpp)
target_link_libraries(log_writer PRIVATE yuming_core)
yuming_warnings(log_writer)
target_compile_definitions(search_logic_test PRIVATE YUMING_LOG_WRITER="$<TARGET_FILE:log_writer>")
add_dependencies(search_logic_test log_writer)
# The watch commands and client against a loopback server speaking the watch API; the calendar
# read back by a real iCalendar parser (libical, for this test alone).
pkg_check_modules(LIBICAL REQUIRED IMPORTED_TARGET libical)
yuming_add_test(watch_test SOURCES watch_cli_test.cpp ical_test.cpp support/watch_api_server.cpp
  LIBS yuming_cli yuming_watch PkgConfig::LIBICAL)
target_compile_definitions(watch_test PRIVATE YUMING_CLI_BIN="$<TARGET_FILE:yuming-cli>"
  YUMING_LOCK_HOLDER="$<TARGET_FILE:lock_holder>")
add_dependencies(watch_test yuming-cli lock_holder)
