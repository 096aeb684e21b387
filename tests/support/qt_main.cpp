// One main() for every test binary: a QApplication (offscreen under CTest), then GoogleTest.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Tests never ask for a display, nor for the GPU. Running as root (CI does) is the banner's own
    // business: the tests see that it copes.
    auto setDefault = [](const char* name, const char* value) {
        if (qEnvironmentVariableIsEmpty(name)) qputenv(name, value);
    };
    setDefault("QT_QPA_PLATFORM", "offscreen");
    setDefault("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
