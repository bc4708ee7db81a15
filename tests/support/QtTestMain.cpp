// main() of widget test binaries: the test environment, one QApplication, then GoogleTest.
#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("KALIDROME_BIN_DIR", KALIDROME_BIN_DIR, 0);
    ::setenv("KALIDROME_SOURCE_DIR", KALIDROME_SOURCE_DIR, 0);
    // Disposable files of the program (thumbnails waiting for a save) stay in the build.
    ::setenv("XDG_CACHE_HOME", KALIDROME_BIN_DIR "/../test-cache", 1);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Kalidrome");
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}
