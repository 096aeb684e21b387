add_executable(core_bench core_bench.cpp)
target_link_libraries(core_bench PRIVATE yuming_core benchmark::benchmark)
yuming_warnings(core_bench)

add_executable(parse_page parse_page.cpp)
target_link_libraries(parse_page PRIVATE yuming_core)
yuming_warnings(parse_page)
