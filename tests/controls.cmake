find_package(Qt6 REQUIRED COMPONENTS Widgets Test)

yuming_add_test(controls_test
  SOURCES command_model_test.cpp command_widget_test.cpp controls_persistence_test.cpp box_test.cpp
  LIBS yuming_controls Qt6::Widgets Qt6::Test)
