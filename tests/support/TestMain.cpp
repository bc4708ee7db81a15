// main() of every test binary: the environment the tests expect, then GoogleTest.
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Widget tests run on Qt's offscreen platform unless told otherwise.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("KALIDROME_BIN_DIR", KALIDROME_BIN_DIR, 0);
    ::setenv("KALIDROME_SOURCE_DIR", KALIDROME_SOURCE_DIR, 0);
    // Disposable files of the program (thumbnails waiting for a save) stay in the build.
    ::setenv("XDG_CACHE_HOME", KALIDROME_BIN_DIR "/../test-cache", 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
