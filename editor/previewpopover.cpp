#include "editor/previewpopover.h"

#include "store/defaults.h"
#include "store/keys.h"
#include "store/library.h"
#include "ui_previewpopover.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace {

// A longer line is shown in pieces of this length: the text view lays out and shapes a line
// whole, at some twenty bytes a character, so one line of 20 MB took seconds and a gigabyte.
constexpr qsizetype kShownLineLength = 4096;

bool hasLongLine(QStringView text)
{
    for (qsizetype start = 0;;) {
        const qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        if ((end < 0 ? text.size() : end) - start > kShownLineLength)
            return true;
        if (end < 0)
            return false;
        start = end + 1;
    }
}

// Each line longer than kShownLineLength goes into blocks of that length, never splitting a
// surrogate pair; filled piece by piece, without another copy of the whole text or undo steps.
void showInPieces(QPlainTextEdit &view, QStringView text)
{
    QTextDocument *document = view.document();
    document->clear();
    document->setUndoRedoEnabled(false);
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    for (qsizetype start = 0; start < text.size();) {
        const qsizetype lineEnd = text.indexOf(QLatin1Char('\n'), start);
        const qsizetype end = lineEnd < 0 ? text.size() : lineEnd + 1;
        while (start < end) {
            qsizetype length = std::min(end - start, kShownLineLength);
            if (start + length < end && text[start + length].isLowSurrogate())
                ++length;
            cursor.insertText(text.mid(start, length).toString());
            start += length;
            if (start < end)
                cursor.insertBlock();
        }
    }
    cursor.endEditBlock();
    document->setUndoRedoEnabled(true);
}

} // namespace

PreviewPopover::PreviewPopover(Defaults &defaults, QWidget *parent)
    : QFrame(parent, Qt::Popup)
    , defaults_(defaults)
    , ui_(std::make_unique<Ui::PreviewPopover>())
{
    ui_->setupUi(this);
    txtView = ui_->txtView;
    connect(ui_->copyBtn, &QPushButton::clicked, this, &PreviewPopover::saveToClipboard);
    ui_->txtView->setFocus(); // the keyboard starts in the text; Tab leads to the copy button
    viewDidLoad();
}

PreviewPopover::~PreviewPopover() = default;

void PreviewPopover::viewDidLoad()
{
    if (!txtView)
        return;
    const QStringList bodies = returnAllScripts();
    const qint64 index = defaults_.integerForKey(sel_script);
    // The stored index outlives deletions and may be edited by hand: outside the bodies, show
    // nothing.
    shownBody_ = index >= 0 && index < bodies.size() ? bodies[qsizetype(index)] : QString();
    if (hasLongLine(shownBody_))
        showInPieces(*txtView, shownBody_);
    else
        txtView->setPlainText(shownBody_);
}

void PreviewPopover::saveToClipboard()
{
    if (!txtView)
        return;
    QGuiApplication::clipboard()->setText(shownBody_, QClipboard::Clipboard);
}

QStringList PreviewPopover::returnAllScripts() const
{
    return library::returnAllScripts(defaults_);
}

bool PreviewPopover::userAlreadyExist(const QString &kUsernameKey) const
{
    return library::userAlreadyExist(defaults_, kUsernameKey);
}
