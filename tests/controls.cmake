find_package(Qt6 REQUIRED COMPONENTS Widgets Test)

yuming_add_test(controls_test
  SOURCES command_model_test.cpp command_widget_test.cpp controls_persistence_test.cpp box_test.cpp
  LIBS yuming_controls Qt6::Widgets Qt6::Test)

# The same button on a screen scaled by two: its own binary, since the scale is fixed at start.
add_executable(command_hidpi_test command_hidpi_test.cpp)
target_link_libraries(command_hidpi_test PRIVATE yuming_controls Qt6::Widgets Qt6::Test yuming_test_support GTest::gtest)
yuming_warnings(command_hidpi_test)
# One variable only: a list here would be split into separate properties. The test main picks
# the offscreen platform by itself when none is set.
gtest_discover_tests(command_hidpi_test
  DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT "QT_SCALE_FACTOR=2")
