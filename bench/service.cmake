# The reference service: search cost in process, and load over loopback with wrk.
add_executable(service_catalog_bench service_catalog_bench.cpp)
target_link_libraries(service_catalog_bench PRIVATE yuming_service_lib benchmark::benchmark)
yuming_warnings(service_catalog_bench)

# Each kind of search of search_kinds.lua asked of the catalogue on one thread: the slowest keyword.
add_executable(catalog_kinds catalog_kinds.cpp)
target_link_libraries(catalog_kinds PRIVATE yuming_service_lib)
yuming_warnings(catalog_kinds)

# `cmake --build <dir> --target service_load`: the service's figures under wrk (see the script).
add_custom_target(service_load
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/service_load.sh $<TARGET_FILE:yuming-service>
          ${CMAKE_CURRENT_BINARY_DIR}/service-bench.sqlite
  DEPENDS yuming-service
  USES_TERMINAL)

# Slow and kept-alive clients against a running service (see front_compare.sh).
find_package(Boost 1.74 REQUIRED)
add_executable(front_bench front_bench.cpp)
target_link_libraries(front_bench PRIVATE Boost::headers Threads::Threads)
yuming_warnings(front_bench)

# The catalogue against SQLite's FTS5 trigram index on the same drop list: same answers, and
# how much faster (see bench/README.md, "Drop lists at scale").
add_executable(fts5_peer fts5_peer.cpp)
target_link_libraries(fts5_peer PRIVATE yuming_service_lib SQLite::SQLite3)
yuming_warnings(fts5_peer)
if(YUMING_BUILD_TESTS)
  # The same comparison on a small generated list, answers only: the catalogue must agree with
  # SQLite on every count and page.
  add_test(NAME fts5_peer_agrees
           COMMAND fts5_peer --generate 30000 --check --work ${CMAKE_CURRENT_BINARY_DIR})
endif()

# The registry requests a day the watchlist's schedule makes for a mix of names (watch_scale.sh).
add_executable(watch_requests watch_requests.cpp)
target_link_libraries(watch_requests PRIVATE yuming_service_lib)
yuming_warnings(watch_requests)
