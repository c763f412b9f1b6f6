// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/stringarray.h"

#include <QFrame>
#include <QPointer>
#include <QStringList>

#include <memory>

class Defaults;
class QPlainTextEdit;

namespace Ui {
class PreviewPopover;
}

// A framed popup showing the body of the script selected last, read-only, and a control that
// copies it to the clipboard.
class PreviewPopover : public QFrame {
    Q_OBJECT

public:
    explicit PreviewPopover(Defaults &defaults, QWidget *parent = nullptr);
    ~PreviewPopover() override;

    QPointer<QPlainTextEdit> txtView;

    void saveToClipboard();
    StringArray returnAllScripts() const;
    bool userAlreadyExist(const QString &kUsernameKey) const;

private:
    void viewDidLoad();

    Defaults &defaults_;
    std::unique_ptr<Ui::PreviewPopover> ui_;
    // The text view turns CR LF, lone CRs and line or paragraph separators into its own
    // line breaks; the body itself is copied, so the copy holds exactly the stored characters.
    QString shownBody_;
};
