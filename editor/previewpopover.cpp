#include "editor/previewpopover.h"

#include "store/defaults.h"
#include "store/keys.h"
#include "store/library.h"
#include "ui_previewpopover.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QTextDocument>

PreviewPopover::PreviewPopover(Defaults &defaults, QWidget *parent)
    : QWidget(parent, Qt::Popup)
    , defaults_(defaults)
    , ui_(std::make_unique<Ui::PreviewPopover>())
{
    ui_->setupUi(this);
    txtView = ui_->txtView;
    connect(ui_->copyBtn, &QPushButton::clicked, this, &PreviewPopover::saveToClipboard);
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
    txtView->setPlainText(shownBody_);
    shownText_ = viewText();
}

void PreviewPopover::saveToClipboard()
{
    if (!txtView)
        return;
    const QString text = viewText();
    QGuiApplication::clipboard()->setText(text == shownText_ ? shownBody_ : text,
                                          QClipboard::Clipboard);
}

QStringList PreviewPopover::returnAllScripts() const
{
    return library::returnAllScripts(defaults_);
}

bool PreviewPopover::userAlreadyExist(const QString &kUsernameKey) const
{
    return library::userAlreadyExist(defaults_, kUsernameKey);
}

// The view's text with its line breaks (Return and Shift+Return) as line feeds and nothing else
// replaced; toPlainText() would also turn no-break spaces into plain ones.
QString PreviewPopover::viewText() const
{
    QString text = txtView->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return text;
}
