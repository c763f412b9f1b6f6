// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "editor/scripttablemodel.h"
#include "store/stringarray.h"

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <memory>

class Defaults;
class QLineEdit;
class QPushButton;
class QTableView;

namespace Ui {
class ViewController;
}

// The editor window: the table of script names, adding and deleting scripts under the name in
// the field, taking the clipboard's text when the application becomes active, and the preview.
class ViewController : public QMainWindow, public ScriptTableDataSource {
    Q_OBJECT

public:
    explicit ViewController(Defaults &defaults, QWidget *parent = nullptr);
    ~ViewController() override;

    // The outlets: null until the window's widgets are made.
    QTableView *tableView() const;
    QPushButton *previewBtn() const;
    QLineEdit *nameFld() const;
    // The help windows' commands, there before the window's own menu; others connect them.
    QAction *actionGuide() const { return actionGuide_; }
    QAction *actionSettings() const { return actionSettings_; }
    // The text that Add stores, taken from the clipboard when the application becomes active.
    const QString &clipbStr() const { return clipbStr_; }
    void setClipbStr(const QString &text) { clipbStr_ = text; }
    // The names the table shows, following the stored ones whoever changes them.
    const QStringList &tableViewDat() const { return tableViewDat_; }

    // Makes the window's widgets and outlets, once; showing the window does it too.
    void loadViewIfNeeded();
    void setVisible(bool visible) override;

    void del();
    QStringList returnAllNames() const;
    StringArray returnAllScripts() const;
    void setName();
    void add();
    void defaultsChanged();
    void windowWillClose();
    void active();
    void clipbrdWithTimer();

    qint64 numberOfRowsInTableView() const override;
    // Element row of tableViewDat, whatever the column; nothing outside it.
    QString objectValueForRow(qsizetype row) const override;
    void tableViewSelectionDidChange();
    // Says in the window that no tray is there, and how to bring the window back and quit.
    void showTrayMissing(bool missing);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // Deliberately nothing: Return in the name field adds nothing, resigning active leaves the
    // window as it is, and the clipboard's timer is never started (no periodic look at it).
    void enterFld();
    void deactivate();
    QTimer tmrPastbrd_;

    void viewDidLoad();
    void captureClipboard();
    void showWhatAddStores(bool clipboardHasText);
    void reloadData();
    void followStoredNames();
    void replaceRows(qsizetype at, qsizetype removed, const QStringList &names);
    qsizetype selectedRow() const;
    qsizetype indexToDelete(const QStringList &names, const QString &name,
                            qsizetype selected) const;
    void presentPreview();
    QPoint popoverPosition(QSize size) const;

    Defaults &defaults_;
    std::unique_ptr<Ui::ViewController> ui_;
    QString clipbStr_;
    QStringList tableViewDat_;
    QPointer<QTableView> tableView_;
    QPointer<QPushButton> previewBtn_;
    QPointer<QLineEdit> nameFld_;
    QPointer<QAction> actionGuide_;
    QPointer<QAction> actionSettings_;
    ScriptTableModel *model_ = nullptr;
    bool captured_ = false;  // whether any capture found text
    bool following_ = false; // while the table takes in the stored names
    bool trayMissing_ = false;
};
