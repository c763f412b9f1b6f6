#pragma once

#include <QString>

// A modal warning with one "Ok" button. Both texts are shown as plain text, never as markup;
// the informative text scrolls, can be selected, and the dialog fits the screen it is on.
// Return and Escape close it.
void runAlert(const QString &messageText, const QString &informativeText);
