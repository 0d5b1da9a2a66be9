#include <gtest/gtest.h>

#include <QApplication>
#include <QStandardPaths>
#include <cstdlib>
#include <filesystem>

int main(int argc, char** argv) {
    // No display is needed, also when the tests are listed at build time.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The tests read English; the programs they start inherit this (a test that wants
    // Chinese says so).
    qputenv("LC_ALL", "C.UTF-8");
    qunsetenv("LANGUAGE");
    // The line's records per port stay out of the user's runtime folder, and out of other
    // tests': pseudo-terminal names are reused.
    char runtime[] = "/tmp/progread-run-XXXXXX";
    if (::mkdtemp(runtime)) qputenv("XDG_RUNTIME_DIR", runtime);
    QApplication app(argc, argv);
    // Settings the tests write (the last good port) stay out of the user's own.
    QStandardPaths::setTestModeEnabled(true);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(runtime, ec);
    return result;
}
