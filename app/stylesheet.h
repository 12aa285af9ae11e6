// The program's style sheet, read once from the embedded ":style.css". Every
// top-level window (main window, dialogs, message boxes) sets it.
#pragma once

#include <QString>

// Empty when the resource is missing.
QString styleSheetText();
