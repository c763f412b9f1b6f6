// SPDX-License-Identifier: GPL-3.0-or-later
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
#include <utility>

namespace {

// A longer line is shown in pieces of this length: the text view lays out and shapes a line
// whole, at some twenty bytes a character, so one line of 20 MB took seconds and a gigabyte.
constexpr qsizetype kShownLineLength = 4096;

// Where the line from `from` ends, and where the next begins: the view starts a new line after a
// line feed, a carriage return (with its line feed, if any) and a paragraph separator.
std::pair<qsizetype, qsizetype> lineAt(QStringView text, qsizetype from)
{
    const auto isBreak = [](QChar c) {
        return c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator;
    };
    const qsizetype end = std::find_if(text.begin() + from, text.end(), isBreak) - text.begin();
    if (end == text.size())
        return {end, end};
    return {end, text.mid(end, 2) == u"\r\n" ? end + 2 : end + 1};
}

bool hasLongLine(QStringView text)
{
    for (qsizetype start = 0; start < text.size();) {
        const auto [end, next] = lineAt(text, start);
        if (end - start > kShownLineLength)
            return true;
        start = next;
    }
    return false;
}

// Each line longer than kShownLineLength goes into blocks of that length, never splitting a
// surrogate pair; the last piece takes the line's break as written. Filled piece by piece,
// without another copy of the whole text or undo steps.
void showInPieces(QPlainTextEdit &view, QStringView text)
{
    QTextDocument *document = view.document();
    document->clear();
    document->setUndoRedoEnabled(false);
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    for (qsizetype start = 0; start < text.size();) {
        const auto [end, next] = lineAt(text, start);
        qsizetype piece = start;
        do {
            qsizetype length = std::min(end - piece, kShownLineLength);
            if (piece + length < end && text[piece + length].isLowSurrogate())
                ++length;
            const bool last = piece + length == end;
            cursor.insertText(text.mid(piece, (last ? next : piece + length) - piece).toString());
            if (!last)
                cursor.insertBlock();
            piece += length;
        } while (piece < end);
        start = next;
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
    const StringArray bodies = returnAllScripts();
    const qint64 index = defaults_.integerForKey(sel_script);
    // The stored index outlives deletions and may be edited by hand: outside the bodies, show
    // nothing.
    shownBody_ = index >= 0 && index < bodies.size() ? bodies.at(qsizetype(index)) : QString();
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

StringArray PreviewPopover::returnAllScripts() const
{
    return library::storedScripts(defaults_);
}

bool PreviewPopover::userAlreadyExist(const QString &kUsernameKey) const
{
    return library::userAlreadyExist(defaults_, kUsernameKey);
}
