#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <memory>

class Defaults;
class QLineEdit;
class QPushButton;
class QTableView;
class ScriptTableModel;

namespace Ui {
class ViewController;
}

// The editor window: the table of script names, adding and deleting scripts under the name in
// the field, taking the clipboard's text when the application becomes active, and the preview.
class ViewController : public QMainWindow {
    Q_OBJECT

public:
    explicit ViewController(Defaults &defaults, QWidget *parent = nullptr);
    ~ViewController() override;

    // Never started: there is no periodic look at the clipboard.
    QTimer tmrPastbrd;
    QString clipbStr;
    QPointer<QTableView> tableView;
    QPointer<QPushButton> previewBtn;
    QStringList tableViewDat;
    QPointer<QLineEdit> nameFld;
    // The help windows' commands, there before the window's own menu; others connect them.
    QPointer<QAction> actionGuide;
    QPointer<QAction> actionSettings;

    // Makes the window's widgets and outlets, once; showing the window does it too.
    void loadViewIfNeeded();
    void setVisible(bool visible) override;

    void enterFld();
    void del();
    QStringList returnAllNames() const;
    QStringList returnAllScripts() const;
    void setName();
    void add();
    void defaultsChanged();
    void windowWillClose();
    void active();
    void deactivate();
    void clipbrdWithTimer();

    qint64 numberOfRowsInTableView() const;
    // Element row of tableViewDat, whatever the column; nothing outside it.
    QString objectValueForRow(qsizetype row) const;
    void tableViewSelectionDidChange();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void viewDidLoad();
    void captureClipboard();
    void showWhatAddStores(bool clipboardHasText);
    void reloadData();
    void presentPreview();
    QPoint popoverPosition(QSize size) const;

    Defaults &defaults_;
    std::unique_ptr<Ui::ViewController> ui_;
    ScriptTableModel *model_ = nullptr;
    bool captured_ = false; // whether any capture found text
};
