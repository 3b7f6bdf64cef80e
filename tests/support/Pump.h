#pragma once
// Runs the event loop until the scripted capture service has handed out every
// notification it has queued (GoogleTest tests only).
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "support/FakeWaveInService.h"

namespace quenvis::test {

inline void Pump(TFakeWaveInService& Fake) {
  for (int i = 0; i < 1000 && Fake.PendingNotifications() > 0; ++i)
    QCoreApplication::processEvents();
  ASSERT_EQ(Fake.PendingNotifications(), 0);
}

}  // namespace quenvis::test
