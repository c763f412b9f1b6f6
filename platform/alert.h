// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// A modal warning: returns once the user has dismissed it. The program shows DialogAlert; a
// test hands in one that records what it was asked to show.
class Alert {
public:
    virtual ~Alert() = default;
    // The window's title says what failed, so that alerts of several runs can be told apart.
    virtual void run(const QString &windowTitle, const QString &messageText,
                     const QString &informativeText) = 0;
};

// A dialog with one "Ok" button. Both texts are shown as plain text, never as markup; the
// informative text, in a fixed-width font so that paths and columns line up, scrolls, can be
// selected, and the dialog fits the screen it is on. Return and Escape close it.
class DialogAlert : public Alert {
public:
    void run(const QString &windowTitle, const QString &messageText,
             const QString &informativeText) override;
};
