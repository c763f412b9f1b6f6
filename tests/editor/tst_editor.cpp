#include "editor/previewpopover.h"
#include "editor/viewcontroller.h"
#include "platform/appstate.h"
#include "store/keys.h"
#include "testsupport.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
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
    vc.nameFld()->setText(name);
    vc.findChild<QPushButton *>(QLatin1String(button))->click();
}

void activate()
{
    emit AppState::shared().didBecomeActive();
}

QStringList shownRows(const ViewController &vc)
{
    QStringList rows;
    for (int row = 0; row < vc.tableView()->model()->rowCount(); ++row)
        rows << vc.tableView()->model()->index(row, 0).data().toString();
    return rows;
}

QString copied(PreviewPopover &popover)
{
    popover.findChild<QPushButton *>(QStringLiteral("copyBtn"))->click();
    return QGuiApplication::clipboard()->text();
}

} // namespace

class TestEditor : public QObject {
    Q_OBJECT

private slots:
    // No widget at launch; "show main" in the store opens the window, which takes the clipboard.
    void showMainOpensTheLazyWindowAndClosingHidesAll()
    {
        TestStore store;
        store.library("one|two", "1|2");
        ViewController vc(*store.defaults);
        QVERIFY(!vc.tableView() && !vc.nameFld());
        putTextOnClipboard(QStringLiteral("echo early"));
        QSignalSpy changes(store.defaults.get(), &Defaults::didChange);
        store.defaults->setBool(show_main, true);
        QCOMPARE(changes.count(), 2); // the request and the one nested write that clears it
        QTRY_VERIFY_WITH_TIMEOUT(vc.isVisible(), 500);
        QCOMPARE(shownRows(vc), list("one|two"));
        QTRY_COMPARE_WITH_TIMEOUT(vc.clipbStr(), "echo early", 500);
        QWidget other;
        other.show();
        vc.close(); // the hide notification runs the close handler again; that one must stop
        QVERIFY(!vc.isVisible() && !other.isVisible());
        activate();
        QVERIFY(vc.isVisible() && other.isVisible()); // what the hide hid comes back
    }

    void captureTakesPlainTextOnly_data()
    {
        QTest::addColumn<QString>("earlier"); // the text taken before
        QTest::addColumn<QMimeData *>("data");
        QTest::addColumn<QString>("kept");
        QTest::addColumn<QString>("shown"); // what the window says Add stores
        const auto text = [](const QString &text) {
            auto *data = new QMimeData;
            data->setText(text);
            return data;
        };
        auto *image = new QMimeData;
        image->setImageData(QImage(4, 4, QImage::Format_RGB32));
        auto *links = new QMimeData;
        links->setUrls({QUrl(QStringLiteral("file:///etc/hosts"))});
        const auto row = [](const char *tag, QMimeData *data, const QString &kept,
                            const QString &shown, const QString &earlier = "echo one") {
            QTest::newRow(tag) << earlier << data << kept << shown;
        };
        const QString before = "The clipboard holds no text; Add stores the text copied before "
                               "(1 line, 8 bytes):\necho one";
        row("text", text("echo one"), "echo one",
            "Add stores the copied text (1 line, 8 bytes):\necho one");
        row("image", image, "echo one", before);
        row("nothing", new QMimeData, "echo one", before);
        row("links", links, "echo one", before);
        row("lines", text("line 1  \r\n\tline 2 \n\n"), "line 1  \r\n\tline 2 \n\n",
            "Add stores the copied text (3 lines, 20 bytes):\nline 1  \r\n\tline 2 \n…");
        const QString longText = "\u00e9" + QString(100000, 'x');
        row("long", text(longText), longText,
            "Add stores the copied text (1 line, 97.66 KiB):\n" + longText.left(80) + "…");
        row("canonically equal", text(nfd), nfc,
            "Add stores the copied text (1 line, 5 bytes):\ncaf\u00e9", nfc);
        row("empty", text(QString()), QString(),
            "The copied text is empty: Add stores an empty script.");
    }

    void captureTakesPlainTextOnly()
    {
        QFETCH(QString, earlier);
        QFETCH(QMimeData *, data);
        QFETCH(QString, kept);
        QFETCH(QString, shown);
        TestStore store;
        ViewController vc(*store.defaults);
        vc.loadViewIfNeeded();
        QCOMPARE(vc.findChild<QLabel *>("captureLbl")->text(),
                 "Nothing has been copied yet: Add stores an empty script.");
        putTextOnClipboard(earlier);
        vc.clipbrdWithTimer();
        putOnClipboard(data);
        activate();
        QCOMPARE(vc.clipbStr(), kept);
        QCOMPARE(vc.findChild<QLabel *>("captureLbl")->text(), shown);
    }

    void addRefusesListedAndEmptyNamesAndKeepsPairs()
    {
        TestStore store;
        ViewController vc(*store.defaults);
        putOnClipboard(new QMimeData);
        activate();
        QSignalSpy changes(store.defaults.get(), &Defaults::didChange);
        press(vc, "addBtn", QString());
        QCOMPARE(changes.count(), 0);
        press(vc, "addBtn", QStringLiteral("first"));
        putTextOnClipboard(QStringLiteral("echo A"));
        activate();
        for (const char *name : {"First", "first ", nfc})
            press(vc, "addBtn", QString::fromUtf8(name));
        const QStringList names = list("first|First|first |caf\u00e9");
        QCOMPARE(store.names(), names);
        QCOMPARE(store.bodies(), list("|echo A|echo A|echo A"));
        QCOMPARE(shownRows(vc), names);
        changes.clear();
        press(vc, "addBtn", QStringLiteral("first"));
        press(vc, "addBtn", QString::fromUtf8(nfd));
        QTest::keyClick(vc.nameFld(), Qt::Key_Return);
        store.library("first|ghost", "|boo"); // stored elsewhere, missing from the table
        press(vc, "addBtn", QStringLiteral("ghost"));
        QCOMPARE(changes.count(), 2);
        QCOMPARE(vc.tableViewDat(), names);
    }

    // The field counts, not the selection; hand-edited stores keep their other pairs.
    void deleteKeepsPairs()
    {
        TestStore store;
        store.library("a|b|c|d", "A|B|C|D");
        ViewController vc(*store.defaults);
        vc.show();
        vc.tableView()->selectRow(1);
        QCOMPARE(vc.nameFld()->text(), "b");
        QCOMPARE(store.defaults->integerForKey(sel_script), 1);
        QVERIFY(vc.previewBtn()->isVisible());
        press(vc, "delBtn", QStringLiteral("c"));
        QCOMPARE(store.bodies(), list("A|B|D"));
        QVERIFY(vc.nameFld()->text().isEmpty() && !vc.previewBtn()->isVisible());
        QCOMPARE(shownRows(vc), list("a|b|d"));

        TestStore fewer(R"({"all scripts names": ["a", "b", "c"], "all scripts": ["A"]})");
        ViewController vc1(*fewer.defaults);
        TestStore more(R"({"all scripts names": ["a", "b"], "all scripts": ["A", "B", "X"]})");
        ViewController vc2(*more.defaults);
        putTextOnClipboard(QStringLiteral("N"));
        activate();
        press(vc1, "delBtn", QStringLiteral("c"));
        press(vc1, "addBtn", QStringLiteral("d"));
        QCOMPARE(fewer.bodies(), list("A||N"));
        press(vc2, "addBtn", QStringLiteral("c"));
        press(vc2, "delBtn", QStringLiteral("a"));
        QCOMPARE(more.bodies(), list("B|N"));
    }

    // Exactly the stored characters (CR LF, no-break space, line separator), the edited text
    // once edited; one line of 20 MB, a surrogate pair where the view would break it.
    void previewShowsAndCopiesTheSelectedBody()
    {
        const QString huge = QString(4095, 'a') + QStringLiteral("\U0001F600") +
                             QString(20 * 1000 * 1000, 'z') + QStringLiteral("\r\nend");
        TestStore store;
        store.defaults->setStringArray(all_scripts_name, list("exact|old|huge"));
        store.defaults->setStringArray(all_scripts,
                                       {"printf 'a\u00a0b'\r\necho c\u2028\n", "echo old", huge});
        PreviewPopover exact(*store.defaults);
        QCOMPARE(copied(exact), "printf 'a\u00a0b'\r\necho c\u2028\n");
        store.defaults->setInteger(sel_script, 1);
        PreviewPopover edited(*store.defaults);
        edited.txtView->moveCursor(QTextCursor::End);
        QTest::keyClicks(edited.txtView, QStringLiteral(" new"));
        QCOMPARE(copied(edited), "echo old new");
        QCOMPARE(store.bodies().at(1), "echo old");
        store.defaults->setInteger(sel_script, 2);
        PreviewPopover big(*store.defaults);
        big.show();
        QVERIFY(QTest::qWaitForWindowExposed(&big));
        QVERIFY(big.txtView->toPlainText().startsWith(huge.left(4097) + '\n'));
        QVERIFY(copied(big) == huge);
        for (const qint64 outside : {qint64(3), qint64(-1), qint64(1) << 40}) {
            store.defaults->setInteger(sel_script, outside);
            QCOMPARE(PreviewPopover(*store.defaults).txtView->toPlainText(), QString());
        }
    }
};

QTEST_MAIN(TestEditor)
#include "tst_editor.moc"
