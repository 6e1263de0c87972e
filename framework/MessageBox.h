// Modal message boxes: owner, text, caption, and icon and button flags in
// one call; the result names the button that closed the box. The box runs
// its own event loop, so timers, posted events and queued calls keep being
// delivered while it is open.
#pragma once

#include <QString>

class QWidget;

// Buttons (low four bits).
inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_YESNO = 0x4;
// Icons (bits 4 to 7).
inline constexpr unsigned MB_ICONERROR = 0x10;
inline constexpr unsigned MB_ICONQUESTION = 0x20;
inline constexpr unsigned MB_ICONWARNING = 0x30;
inline constexpr unsigned MB_ICONINFORMATION = 0x40;
// Default button (bits 8 to 11).
inline constexpr unsigned MB_DEFBUTTON2 = 0x100;

// Results.
inline constexpr int IDOK = 1;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Shows a modal box whose parent (owner) is 'owner', titled 'caption'. The
// text is shown as plain text. Closing the box other than by a button
// (a close event, Escape) counts as OK for an OK box and as No for a Yes/No
// box. User-interface thread only.
int MessageBox(QWidget* owner, const QString& text, const QString& caption, unsigned flags);
