#pragma once
// The start of a GoogleTest program that needs Qt widgets: off screen unless
// a display is asked for, the desktop's folders in test mode, and settings of
// its own, since the cases run as processes side by side and must not share
// them (the takes' folder among them).
#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace quenvis::test {

inline int RunWidgetTests(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QStandardPaths::setTestModeEnabled(true);
  const QTemporaryDir settings;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  return RUN_ALL_TESTS();
}

}  // namespace quenvis::test
