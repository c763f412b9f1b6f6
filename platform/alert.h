#pragma once

#include <QString>

// A modal warning with one "Ok" button. Both texts are shown as plain text, never as markup.
void runAlert(const QString &messageText, const QString &informativeText);
