// Test helper: a user's click on a spinner arrow.
#pragma once

#include <QTest>

#include "framework/UpDown.h"

// Clicks the upper (up) or lower (down) arrow of 'spinner'.
inline void ClickArrow(TUpDown* spinner, bool up) {
  const int y = up ? spinner->height() / 4 : spinner->height() * 3 / 4;
  QTest::mouseClick(spinner, Qt::LeftButton, {}, QPoint(spinner->width() / 2, y));
}
