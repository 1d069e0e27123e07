#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

// Every window test runs under a Russian desktop locale, where the C library
// writes numbers with a decimal comma: the dialogs must not follow it.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("LC_ALL", "ru_RU.UTF-8", 1);
  setenv("LANG", "ru_RU.UTF-8", 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
