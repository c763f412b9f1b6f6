#pragma once

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <memory>

class Defaults;
class QPlainTextEdit;

namespace Ui {
class PreviewPopover;
}

// A popup showing the body of the script selected last, editable but never written back, and a
// control that copies the shown text to the clipboard.
class PreviewPopover : public QWidget {
    Q_OBJECT

public:
    explicit PreviewPopover(Defaults &defaults, QWidget *parent = nullptr);
    ~PreviewPopover() override;

    QPointer<QPlainTextEdit> txtView;

    void saveToClipboard();
    QStringList returnAllScripts() const;
    bool userAlreadyExist(const QString &kUsernameKey) const;

private:
    void viewDidLoad();
    QString viewText() const;

    Defaults &defaults_;
    std::unique_ptr<Ui::PreviewPopover> ui_;
    // The text view turns CR LF, lone CRs and line or paragraph separators into its own
    // line breaks. While the shown text is unedited the body itself is copied, so the copy
    // holds exactly the stored characters.
    QString shownBody_;
    QString shownText_;
    bool shownInPieces_ = false;
};
