// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/viewcontroller.h"

#include "editor/previewpopover.h"
#include "editor/scripttablemodel.h"
#include "platform/appstate.h"
#include "store/defaults.h"
#include "store/keys.h"
#include "store/library.h"
#include "ui_viewcontroller.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QMimeData>
#include <QScopedValueRollback>
#include <QScreen>

#include <algorithm>
#include <optional>

namespace {

bool listsName(const QStringList &names, const QString &name)
{
    return std::any_of(names.begin(), names.end(),
                       [&name](const QString &n) { return library::sameName(n, name); });
}

constexpr qsizetype kShownLines = 2;
constexpr qsizetype kShownLineChars = 80;

// The size of text as UTF-8, as it is stored, without making the copy.
qsizetype utf8Size(const QString &text)
{
    qsizetype size = 0;
    for (const QChar c : text)
        size += c.unicode() < 0x80 ? 1 : c.unicode() < 0x800 || c.isSurrogate() ? 2 : 3;
    return size;
}

QString sizeOf(const QString &text)
{
    const qsizetype lines = text.count(QLatin1Char('\n')) + !text.endsWith(QLatin1Char('\n'));
    return QStringLiteral("%1 %2, %3")
        .arg(lines)
        .arg(lines == 1 ? QStringLiteral("line") : QStringLiteral("lines"),
             QLocale::c().formattedDataSize(utf8Size(text)));
}

// The first lines of a text, each cut short, however long the text is.
QString firstLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    while (lines.size() < kShownLines && start < text.size()) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = text.size();
        const QString line = text.mid(start, std::min(end - start, kShownLineChars));
        lines.append(end - start > kShownLineChars ? line + QStringLiteral("…") : line);
        start = end + 1;
    }
    if (start < text.size())
        lines.append(QStringLiteral("…"));
    return lines.join(QLatin1Char('\n'));
}

} // namespace

// The window's widgets are made when it is first shown (they load the font database, a tenth
// of the program's memory); the observers and the row list exist from the start.
ViewController::ViewController(Defaults &defaults, QWidget *parent)
    : QMainWindow(parent)
    , defaults_(defaults)
    , ui_(std::make_unique<Ui::ViewController>())
    , actionGuide_(new QAction(this))
    , actionSettings_(new QAction(this))
{
    connect(&defaults_, &Defaults::didChange, this, &ViewController::defaultsChanged);
    AppState &app = AppState::shared();
    connect(&app, &AppState::didBecomeActive, this, &ViewController::active);
    connect(&app, &AppState::didResignActive, this, &ViewController::deactivate);
    connect(&app, &AppState::didHide, this, &ViewController::windowWillClose);
    if (library::userAlreadyExist(defaults_, all_scripts_name))
        tableViewDat_ = returnAllNames(); // shared with the store's list
}

// The table outlives this destructor's body as a child widget and may still ask its model for
// rows, which asks this controller: it must ask an empty model by then.
ViewController::~ViewController()
{
    if (tableView_)
        tableView_->setModel(nullptr);
}

QTableView *ViewController::tableView() const
{
    return tableView_;
}

QPushButton *ViewController::previewBtn() const
{
    return previewBtn_;
}

QLineEdit *ViewController::nameFld() const
{
    return nameFld_;
}

void ViewController::loadViewIfNeeded()
{
    if (model_)
        return;
    ui_->setupUi(this);
    tableView_ = ui_->tableView;
    previewBtn_ = ui_->previewBtn;
    nameFld_ = ui_->nameFld;
    connect(ui_->actionGuide, &QAction::triggered, actionGuide_, &QAction::trigger);
    connect(ui_->actionSettings, &QAction::triggered, actionSettings_, &QAction::trigger);
    connect(ui_->addBtn, &QPushButton::clicked, this, &ViewController::add);
    connect(ui_->delBtn, &QPushButton::clicked, this, &ViewController::del);
    if (nameFld_)
        connect(nameFld_, &QLineEdit::returnPressed, this, &ViewController::enterFld);
    if (previewBtn_)
        connect(previewBtn_, &QPushButton::clicked, this, &ViewController::presentPreview);
    viewDidLoad();
    showTrayMissing(trayMissing_);
}

void ViewController::setVisible(bool visible)
{
    if (visible)
        loadViewIfNeeded();
    QMainWindow::setVisible(visible);
}

void ViewController::viewDidLoad()
{
    model_ = new ScriptTableModel(*this, this);
    if (tableView_) {
        tableView_->setModel(model_);
        // After setModel: the view makes a new selection model for the new model.
        connect(tableView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                &ViewController::tableViewSelectionDidChange);
    }
    showWhatAddStores(false);
    reloadData();
}

void ViewController::enterFld()
{}

void ViewController::del()
{
    const QString name = nameFld_ ? nameFld_->text() : QString();
    if (name.isEmpty())
        return;
    if (previewBtn_)
        previewBtn_->hide();
    const qsizetype selected = selectedRow();
    // No row stays selected or current: a removed current row would hand both to the next row.
    if (tableView_ && tableView_->selectionModel())
        tableView_->selectionModel()->clear();
    if (library::userAlreadyExist(defaults_, all_scripts_name)) {
        StringArray bodies = returnAllScripts();
        QStringList names = returnAllNames();
        const qsizetype i = indexToDelete(names, name, selected);
        if (i >= 0) {
            names.removeAt(i);
            // A hand-edited store may hold fewer bodies: the others keep their pairs.
            if (i < bodies.size())
                bodies.removeAt(i);
        }
        defaults_.setStringArrays({{all_scripts_name, names}, {all_scripts, bodies}});
    }
    if (nameFld_)
        nameFld_->clear();
}

// The first name equal to the field's; but the selected row when it holds the field's very text,
// so that of two equal names the selected one goes, as its preview showed.
qsizetype ViewController::indexToDelete(const QStringList &names, const QString &name,
                                        qsizetype selected) const
{
    if (selected >= 0 && selected < names.size() && names[selected] == name)
        return selected;
    const auto found = std::find_if(names.begin(), names.end(), [&name](const QString &n) {
        return library::sameName(n, name);
    });
    return found == names.end() ? -1 : found - names.begin();
}

// The table follows the stored names, whoever changed them. Only the rows between the unchanged
// head and tail are removed and inserted, so a selected row keeps its selection wherever it
// moves; a selected name that is gone leaves no row selected or current.
void ViewController::followStoredNames()
{
    if (following_)
        return;
    const QStringList names = returnAllNames();
    if (names == tableViewDat_ || !model_) {
        tableViewDat_ = names; // shared with the store's: the next comparison costs nothing
        return;
    }
    const qsizetype oldSize = tableViewDat_.size();
    qsizetype head = 0;
    while (head < oldSize && head < names.size() && tableViewDat_.at(head) == names[head])
        ++head;
    qsizetype tail = 0;
    while (tail < oldSize - head && tail < names.size() - head &&
           tableViewDat_.at(oldSize - 1 - tail) == names[names.size() - 1 - tail])
        ++tail;
    const qsizetype selected = selectedRow();
    const std::optional<QString> selectedName =
        selected >= 0 ? std::optional(tableViewDat_.at(selected)) : std::nullopt;
    {
        // The selection model reports its changes midway; they are taken once the rows are in.
        const QScopedValueRollback<bool> guard(following_, true);
        replaceRows(head, oldSize - head - tail, names);
    }
    if (selectedName && selectedRow() < 0 && tableView_) {
        const qsizetype row = names.indexOf(*selectedName);
        if (row >= 0)
            tableView_->selectRow(int(row));
    }
    if (selectedRow() < 0 && previewBtn_)
        previewBtn_->hide();
}

// Rows at to at + removed - 1 give way to those of names between the same head and tail.
void ViewController::replaceRows(qsizetype at, qsizetype removed, const QStringList &names)
{
    const qsizetype inserted = names.size() - (tableViewDat_.size() - removed);
    if (removed > 0) {
        const QModelIndex current = tableView_ ? tableView_->currentIndex() : QModelIndex();
        if (current.isValid() && current.row() >= at && current.row() < at + removed)
            tableView_->selectionModel()->clear();
        model_->beginRemove(int(at), int(at + removed - 1));
        tableViewDat_.remove(at, removed);
        model_->endRemove();
    }
    if (inserted > 0)
        model_->beginInsert(int(at), int(at + inserted - 1));
    tableViewDat_ = names;
    if (inserted > 0)
        model_->endInsert();
}

QStringList ViewController::returnAllNames() const
{
    return library::returnAllNames(defaults_);
}

StringArray ViewController::returnAllScripts() const
{
    return library::storedScripts(defaults_);
}

void ViewController::setName()
{
    const QString name = nameFld_ ? nameFld_->text() : QString();
    if (listsName(tableViewDat_, name))
        return;
    if (name.isEmpty())
        return;
    QStringList names;
    StringArray bodies;
    if (library::userAlreadyExist(defaults_, all_scripts_name)) {
        names = returnAllNames();
        bodies = returnAllScripts();
    }
    if (listsName(names, name))
        return;
    // A hand-edited store may hold more or fewer bodies than names; the new body must land at
    // the new name's index. Missing bodies become empty, surplus ones are dropped (the store
    // keeps the original file aside).
    bodies.resize(names.size());
    names.append(name);
    bodies.append(clipbStr_);
    defaults_.setStringArrays({{all_scripts_name, names}, {all_scripts, bodies}});
}

void ViewController::add()
{
    setName();
}

// The other end of the "show main" handshake: the tray's "Preferences" only stores the request;
// it reaches this window through the store, never by a call.
void ViewController::defaultsChanged()
{
    followStoredNames();
    if (!defaults_.boolForKey(show_main))
        return;
    defaults_.setBool(show_main, false);
    AppState::shared().activateIgnoringOtherApps(window());
}

void ViewController::windowWillClose()
{
    AppState::shared().hide();
    tmrPastbrd_.stop();
}

void ViewController::active()
{
    defaults_.synchronize();
    AppState::makeKeyAndOrderFront(window());
    captureClipboard();
}

void ViewController::deactivate()
{}

void ViewController::clipbrdWithTimer()
{
    captureClipboard();
}

qint64 ViewController::numberOfRowsInTableView() const
{
    return tableViewDat_.size();
}

QString ViewController::objectValueForRow(qsizetype row) const
{
    return row >= 0 && row < tableViewDat_.size() ? tableViewDat_[row] : QString();
}

void ViewController::tableViewSelectionDidChange()
{
    if (following_)
        return;
    const qsizetype row = selectedRow();
    // Hidden and shown only when it changes: each costs the window a new layout.
    if (row < 0 || row >= tableViewDat_.size()) {
        if (previewBtn_)
            previewBtn_->hide();
        return;
    }
    if (nameFld_)
        nameFld_->setText(tableViewDat_.at(row));
    defaults_.setInteger(sel_script, row);
    if (previewBtn_)
        previewBtn_->show();
}

void ViewController::showTrayMissing(bool missing)
{
    trayMissing_ = missing;
    if (model_)
        ui_->noTrayLbl->setVisible(missing);
}

qsizetype ViewController::selectedRow() const
{
    if (!tableView_ || !tableView_->selectionModel())
        return -1;
    const QModelIndexList selected = tableView_->selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void ViewController::closeEvent(QCloseEvent *event)
{
    windowWillClose();
    event->accept();
}

// X11 and Wayland clipboards hold one item, so the item's text and the clipboard's are one.
void ViewController::captureClipboard()
{
    const QMimeData *data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    const bool hasText = data && data->hasFormat(QStringLiteral("text/plain"));
    if (hasText) {
        const QString text = data->text();
        if (!library::sameName(text, clipbStr_))
            clipbStr_ = text;
        captured_ = true;
    }
    showWhatAddStores(hasText);
}

// A clipboard without text leaves the earlier text to be stored: the window says which text
// Add stores, so that it never surprises.
void ViewController::showWhatAddStores(bool clipboardHasText)
{
    if (!model_)
        return; // the window's widgets are not made yet; they show it when they are
    QString shown;
    if (!captured_)
        shown = QStringLiteral("Nothing has been copied yet: Add stores an empty script.");
    else if (clipbStr_.isEmpty())
        shown = QStringLiteral("The copied text is empty: Add stores an empty script.");
    else
        shown = QStringLiteral("%1 (%2):\n%3")
                    .arg(clipboardHasText ? QStringLiteral("Add stores the copied text")
                                          : QStringLiteral("The clipboard holds no text; Add "
                                                           "stores the text copied before"),
                         sizeOf(clipbStr_), firstLines(clipbStr_));
    ui_->captureLbl->setText(shown);
}

void ViewController::reloadData()
{
    if (model_)
        model_->reloadData();
}

// Stands in for the layout's presentation: a new popover each time, so it shows the current
// selection, deleted when it closes.
void ViewController::presentPreview()
{
    if (!previewBtn_)
        return;
    // The popover shows the body at the stored index; the selected row may have moved since it
    // was stored, when the names changed elsewhere. A write may bring in another such change.
    for (int tries = 0; tries < 3; ++tries) {
        const qsizetype row = selectedRow();
        if (row < 0 || defaults_.integerForKey(sel_script) == row)
            break;
        defaults_.setInteger(sel_script, row);
    }
    auto *popover = new PreviewPopover(defaults_, this);
    popover->setAttribute(Qt::WA_DeleteOnClose);
    popover->move(popoverPosition(popover->size()));
    popover->show();
}

// Under the button, its left edges aligned; where the screen ends first, above the button or
// its right edges aligned. A popup is placed by no window manager: off the screen, its copy
// button could not be reached.
QPoint ViewController::popoverPosition(QSize size) const
{
    const QRect button(previewBtn_->mapToGlobal(QPoint(0, 0)), previewBtn_->size());
    QPoint pos(button.left(), button.bottom() + 1);
    const QScreen *screen = previewBtn_->screen();
    if (!screen)
        return pos;
    const QRect room = screen->availableGeometry();
    if (pos.x() + size.width() > room.right() + 1)
        pos.setX(button.right() + 1 - size.width());
    if (pos.y() + size.height() > room.bottom() + 1 && button.top() - size.height() >= room.top())
        pos.setY(button.top() - size.height());
    pos.setX(std::max(room.left(), std::min(pos.x(), room.right() + 1 - size.width())));
    pos.setY(std::max(room.top(), std::min(pos.y(), room.bottom() + 1 - size.height())));
    return pos;
}
