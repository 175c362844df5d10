#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv) {
  // Headless always, also when the list of tests is taken at build time.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
