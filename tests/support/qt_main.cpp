// One main() for every test binary: a QApplication (offscreen under CTest), then GoogleTest.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Tests never ask for a display, and the browser's helper processes run as root in CI.
    auto setDefault = [](const char* name, const char* value) {
        if (qEnvironmentVariableIsEmpty(name)) qputenv(name, value);
    };
    setDefault("QT_QPA_PLATFORM", "offscreen");
    setDefault("QTWEBENGINE_DISABLE_SANDBOX", "1");
    setDefault("QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox --disable-gpu");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
