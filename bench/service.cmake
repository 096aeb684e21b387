# The reference service: search cost in process, and load over loopback with wrk.
add_executable(service_catalog_bench service_catalog_bench.cpp)
target_link_libraries(service_catalog_bench PRIVATE yuming_service_lib benchmark::benchmark)
yuming_warnings(service_catalog_bench)

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
