// Shared main of the test programs. Test discovery runs the binary at build time without
// the test environment, so the headless platform is set here when it is unset.
#include <gtest/gtest.h>
#include <cstdlib>
#ifdef QV_TEST_WITH_QT
#include <QApplication>
#endif

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
#ifdef QV_TEST_WITH_QT
    QApplication app(argc, argv);
#endif
    return RUN_ALL_TESTS();
}
