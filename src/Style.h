#pragma once
#include <QString>

// Applies the compiled-in visual style whose name matches (ignoring case).
// Returns false when no style of that name is known.
bool SelectStyle(const QString &name);

// Start-up: selects the style, or shows "Style '<name>' not found" (error
// icon, one Close button) and keeps the standard look.
void SelectStyleOrWarn(const QString &name);

// Makes the design font available where the system lacks it: a
// metric-compatible Tahoma from Debian's fonts-wine when installed.
void EnsureDesignFonts();

// The program's icon, application-wide: the main window and the message
// boxes (which have no parent window) show it.
void SetProgramIcon();
