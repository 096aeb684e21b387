yuming_add_test(text_test SOURCES text_test.cpp LIBS yuming_text)
yuming_add_test(search_logic_test SOURCES search_query_test.cpp result_parser_test.cpp paging_test.cpp lookup_test.cpp
  LIBS yuming_core)
yuming_add_test(fetch_test SOURCES fetch_test.cpp receive_path_test.cpp LIBS yuming_core)
yuming_add_test(cli_test SOURCES cli_test.cpp LIBS yuming_text)
target_compile_definitions(cli_test PRIVATE YUMING_CLI_BIN="$<TARGET_FILE:yuming-cli>")
add_dependencies(cli_test yuming-cli)
# The tool against the real reference service (tests/support/service_process.h starts it).
find_package(SQLite3 REQUIRED)
yuming_add_test(service_e2e_test SOURCES service_e2e_test.cpp LIBS yuming_core yuming_service_support SQLite::SQLite3)
yuming_add_test(fault_suite_test SOURCES fault_suite_test.cpp LIBS yuming_core)
yuming_add_replay(fuzz_result_parser result_page fuzz/fuzz_result_parser.cpp yuming_core)
yuming_add_replay(fuzz_lookup_parser lookup_page fuzz/fuzz_lookup_parser.cpp yuming_core)
yuming_add_replay(fuzz_receive_path receive_path fuzz/fuzz_receive_path.cpp yuming_core)
