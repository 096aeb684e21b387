add_executable(core_bench core_bench.cpp)
target_link_libraries(core_bench PRIVATE yuming_core benchmark::benchmark)
yuming_warnings(core_bench)
