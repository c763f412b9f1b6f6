#include "editor/viewcontroller.h"
#include "editortestsupport.h"
#include "platform/appstate.h"

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

namespace {

const char *const nfc = "caf\u00e9";
const char *const nfd = "cafe\u0301";

void press(ViewController &vc, const char *button, const QString &name)
{
    vc.loadViewIfNeeded();
    vc.nameFld->setText(name);
    vc.findChild<QPushButton *>(QLatin1String(button))->click();
}

void activate()
{
    emit AppState::shared().didBecomeActive();
}

// What the window says that Add will store.
QString addStores(const ViewController &vc)
{
    const auto *label = vc.findChild<QLabel *>(QStringLiteral("captureLbl"));
    return label ? label->text() : QStringLiteral("<no label>");
}

QStringList shownRows(const ViewController &vc)
{
    QStringList rows;
    const QAbstractItemModel *model = vc.tableView->model();
    for (int row = 0; row < model->rowCount(); ++row)
        rows.append(model->index(row, 0).data().toString());
    return rows;
}

} // namespace

class TestViewController : public QObject {
    Q_OBJECT

private slots:
    void widgetsAreMadeOnFirstShow();
    void tableFollowsSelection();
    void showMainHandshakeAndClosing();
    void captureTakesPlainTextOnlyAndShowsIt();
    void addRefusesListedAndEmptyNames();
    void deleteByFieldKeepsPairs();
    void handEditedStoresKeepPairs();
};

// No widget at launch, where the window may never be shown; its observers are there at once.
void TestViewController::widgetsAreMadeOnFirstShow()
{
    TestStore store;
    store.library("one|two", "1|2");
    ViewController vc(*store.defaults);
    QVERIFY(!vc.tableView && !vc.nameFld);
    putTextOnClipboard(QStringLiteral("echo early"));
    store.defaults->setBool(show_main, true);
    QTRY_VERIFY_WITH_TIMEOUT(vc.isVisible(), 500);
    QCOMPARE(shownRows(vc), list("one|two"));
    QTRY_COMPARE_WITH_TIMEOUT(vc.clipbStr, "echo early", 500);
}

void TestViewController::tableFollowsSelection()
{
    TestStore empty;
    ViewController none(*empty.defaults);
    none.loadViewIfNeeded();
    QCOMPARE(none.tableView->model()->rowCount(), 0);

    TestStore store;
    store.library("one|two", "1|2");
    ViewController vc(*store.defaults);
    vc.show();
    QVERIFY(QTest::qWaitForWindowExposed(&vc));
    QCOMPARE(shownRows(vc), list("one|two"));
    QVERIFY(!vc.previewBtn->isVisible());

    QSignalSpy changes(store.defaults.get(), &Defaults::didChange);
    vc.tableView->selectRow(1);
    QCOMPARE(changes.count(), 1); // one change seen once: one write of the index
    QCOMPARE(vc.nameFld->text(), "two");
    QCOMPARE(store.defaults->integerForKey(sel_script), 1);
    QVERIFY(vc.previewBtn->isVisible());

    vc.tableView->clearSelection();
    QVERIFY(!vc.previewBtn->isVisible());
    QCOMPARE(vc.nameFld->text(), "two");
    QCOMPARE(store.defaults->integerForKey(sel_script), 1);

    store.library("elsewhere", "x");
    QCOMPARE(shownRows(vc), list("one|two"));
}

void TestViewController::showMainHandshakeAndClosing()
{
    TestStore store;
    ViewController vc(*store.defaults);
    putTextOnClipboard(QStringLiteral("echo shown"));
    QSignalSpy changes(store.defaults.get(), &Defaults::didChange);

    store.defaults->setBool(show_main, true);
    QCOMPARE(changes.count(), 2); // the request and the one nested write that clears it
    QVERIFY(!store.defaults->boolForKey(show_main));
    QTRY_VERIFY_WITH_TIMEOUT(vc.isVisible(), 500);
    QTRY_COMPARE_WITH_TIMEOUT(vc.clipbStr, "echo shown", 500);

    QWidget other;
    other.show();
    QSignalSpy hides(&AppState::shared(), &AppState::didHide);
    vc.close(); // the hide notification runs the close handler again; that one must stop
    QCOMPARE(hides.count(), 1);
    QVERIFY(!vc.isVisible());
    QVERIFY(!other.isVisible());

    store.defaults->setBool(show_main, false);
    QVERIFY(!vc.isVisible());
    activate();
    QVERIFY(vc.isVisible());
    QVERIFY(other.isVisible()); // what the hide hid comes back with it
}

void TestViewController::captureTakesPlainTextOnlyAndShowsIt()
{
    TestStore store;
    ViewController vc(*store.defaults);
    vc.loadViewIfNeeded();
    QCOMPARE(addStores(vc), "Nothing has been copied yet: Add stores an empty script.");
    putTextOnClipboard(QStringLiteral("echo one"));
    activate();
    QCOMPARE(vc.clipbStr, "echo one");
    QCOMPARE(addStores(vc), "Add stores the copied text (1 line, 8 bytes):\necho one");

    auto *image = new QMimeData;
    image->setImageData(QImage(4, 4, QImage::Format_RGB32));
    putOnClipboard(image);
    activate();
    putOnClipboard(new QMimeData);
    activate();
    auto *links = new QMimeData;
    links->setUrls({QUrl(QStringLiteral("file:///etc/hosts"))});
    putOnClipboard(links);
    activate();
    QCOMPARE(vc.clipbStr, "echo one");
    // The earlier text is kept, and the window says so.
    QCOMPARE(addStores(vc), "The clipboard holds no text; Add stores the text copied before "
                            "(1 line, 8 bytes):\necho one");

    const QString lines = QStringLiteral("line 1  \r\n\tline 2 \n\n");
    putTextOnClipboard(lines);
    activate();
    QCOMPARE(vc.clipbStr, lines);
    QCOMPARE(addStores(vc), "Add stores the copied text (3 lines, 20 bytes):\nline 1  \r\n\tline "
                            "2 \n…");
    putTextOnClipboard(QStringLiteral("\u00e9") + QString(100000, QLatin1Char('x')));
    activate();
    QCOMPARE(addStores(vc), "Add stores the copied text (1 line, 97.66 KiB):\n\u00e9" +
                                QString(79, QLatin1Char('x')) + "…");

    putTextOnClipboard(QString::fromUtf8(nfc));
    vc.clipbrdWithTimer();
    putTextOnClipboard(QString::fromUtf8(nfd)); // canonically equal: not written
    activate();
    QCOMPARE(vc.clipbStr, QString::fromUtf8(nfc));

    putTextOnClipboard(QString());
    activate();
    QCOMPARE(vc.clipbStr, QString());
    QCOMPARE(addStores(vc), "The copied text is empty: Add stores an empty script.");
}

void TestViewController::addRefusesListedAndEmptyNames()
{
    TestStore store;
    ViewController vc(*store.defaults);
    putOnClipboard(new QMimeData);
    activate();
    QSignalSpy changes(store.defaults.get(), &Defaults::didChange);

    press(vc, "addBtn", QString());
    QCOMPARE(changes.count(), 0);
    press(vc, "addBtn", QStringLiteral("first"));
    QCOMPARE(store.names(), list("first"));
    QCOMPARE(store.bodies(), list(""));

    putTextOnClipboard(QStringLiteral("echo A"));
    activate();
    for (const char *name : {"First", "first ", nfc})
        press(vc, "addBtn", QString::fromUtf8(name));
    const QStringList names = list("first|First|first |caf\u00e9");
    QCOMPARE(store.names(), names);
    QCOMPARE(store.bodies(), list("|echo A|echo A|echo A"));
    QCOMPARE(shownRows(vc), names);
    QCOMPARE(vc.nameFld->text(), QString::fromUtf8(nfc));

    putTextOnClipboard(QStringLiteral("echo B"));
    activate();
    changes.clear();
    press(vc, "addBtn", QStringLiteral("first"));
    press(vc, "addBtn", QString::fromUtf8(nfd));
    vc.nameFld->setText(QStringLiteral("new"));
    QTest::keyClick(vc.nameFld, Qt::Key_Return);
    QCOMPARE(changes.count(), 0);

    // Stored elsewhere but missing from the table: still refused.
    store.library("first|First|first |caf\u00e9|ghost", "|echo A|echo A|echo A|boo");
    changes.clear();
    press(vc, "addBtn", QStringLiteral("ghost"));
    QCOMPARE(changes.count(), 0);
    QCOMPARE(vc.tableViewDat, names);
}

void TestViewController::deleteByFieldKeepsPairs()
{
    TestStore store;
    store.library("a|b|c|d", "A|B|C|D");
    ViewController vc(*store.defaults);
    vc.show();

    vc.tableView->selectRow(1);
    QSignalSpy changes(store.defaults.get(), &Defaults::didChange);
    press(vc, "delBtn", QString());
    QCOMPARE(changes.count(), 0);
    QVERIFY(vc.previewBtn->isVisible());

    press(vc, "delBtn", QStringLiteral("c")); // the field counts, not the selected "b"
    QCOMPARE(store.names(), list("a|b|d"));
    QCOMPARE(store.bodies(), list("A|B|D"));
    QCOMPARE(vc.nameFld->text(), QString());
    QVERIFY(!vc.previewBtn->isVisible());

    vc.tableView->selectRow(1);
    QVERIFY(vc.previewBtn->isVisible());
    vc.findChild<QPushButton *>(QStringLiteral("delBtn"))->click(); // the middle of three
    QCOMPARE(store.names(), list("a|d"));
    QCOMPARE(store.bodies(), list("A|D"));
    QCOMPARE(shownRows(vc), list("a|d"));

    changes.clear();
    press(vc, "delBtn", QStringLiteral("A"));
    QCOMPARE(changes.count(), 2); // both written back unchanged
    QCOMPARE(store.names(), list("a|d"));
    QCOMPARE(vc.nameFld->text(), QString());
}

void TestViewController::handEditedStoresKeepPairs()
{
    putTextOnClipboard(QStringLiteral("N"));
    TestStore fewer(R"({"all scripts names": ["a", "b", "c"], "all scripts": ["A"]})");
    ViewController vc1(*fewer.defaults);
    TestStore more(R"({"all scripts names": ["a", "b"], "all scripts": ["A", "B", "X"]})");
    ViewController vc2(*more.defaults);
    TestStore mistyped(R"({"all scripts names": "oops", "all scripts": 7})");
    ViewController vc3(*mistyped.defaults);
    activate();

    press(vc1, "delBtn", QStringLiteral("c"));
    QCOMPARE(fewer.bodies(), list("A"));
    press(vc1, "addBtn", QStringLiteral("d"));
    QCOMPARE(fewer.names(), list("a|b|d"));
    QCOMPARE(fewer.bodies(), list("A||N"));

    press(vc2, "addBtn", QStringLiteral("c"));
    QCOMPARE(more.bodies(), list("A|B|N"));
    press(vc2, "delBtn", QStringLiteral("a"));
    QCOMPARE(more.names(), list("b|c"));
    QCOMPARE(more.bodies(), list("B|N"));

    QCOMPARE(vc3.numberOfRowsInTableView(), 0);
    press(vc3, "addBtn", QStringLiteral("n"));
    QCOMPARE(mistyped.names(), list("n"));
    QCOMPARE(mistyped.bodies(), list("N"));

    // The table lags behind the store: the stored pair goes, no other row is touched.
    TestStore drift;
    drift.library("a", "A");
    ViewController vc4(*drift.defaults);
    drift.library("x|a", "X|A");
    press(vc4, "delBtn", QStringLiteral("a"));
    QCOMPARE(drift.bodies(), list("X"));
    QCOMPARE(vc4.tableViewDat, list("a"));
}

QTEST_MAIN(TestViewController)
#include "tst_viewcontroller.moc"
