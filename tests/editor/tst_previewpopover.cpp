#include "editor/previewpopover.h"
#include "editor/viewcontroller.h"
#include "editortestsupport.h"

#include <QFile>
#include <QImage>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTest>

namespace {

QString clipboardText()
{
    const QMimeData *data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    return data && data->hasText() ? data->text() : QStringLiteral("<no text>");
}

double residentMiB()
{
    QFile status(QStringLiteral("/proc/self/statm"));
    return status.open(QIODevice::ReadOnly)
               ? status.readAll().split(' ').value(1).toDouble() * 4096 / (1024 * 1024)
               : 0;
}

void copy(PreviewPopover &popover)
{
    popover.findChild<QPushButton *>(QStringLiteral("copyBtn"))->click();
}

} // namespace

class TestPreviewPopover : public QObject {
    Q_OBJECT

private slots:
    void opensUnderTheButtonWithTheSelectedBody();
    void copiesTheViewsText();
    void indexOutsideTheBodiesShowsNothing();
    void aHugeLineIsShownAndCopiedExactly();
};

void TestPreviewPopover::opensUnderTheButtonWithTheSelectedBody()
{
    TestStore store;
    store.library("one|two|three", "1|2|echo 'three'  \n\tdate\n");
    ViewController vc(*store.defaults);
    vc.show();
    QVERIFY(QTest::qWaitForWindowExposed(&vc));

    vc.tableView->selectRow(2);
    vc.previewBtn->click();
    QPointer<PreviewPopover> popover = vc.findChild<PreviewPopover *>();
    QVERIFY(popover && popover->isVisible());
    QCOMPARE(popover->windowType(), Qt::Popup);
    QCOMPARE(popover->txtView->toPlainText(), "echo 'three'  \n\tdate\n");
    // Just under the button, or just above it where the screen ends below (as here: the window
    // is at the top of an 800x600 screen); the platform may add a small frame margin. Sideways
    // it reaches the button, and the whole popup is on the screen.
    const QRect button(vc.previewBtn->mapToGlobal(QPoint(0, 0)), vc.previewBtn->size());
    const QRect shown = popover->frameGeometry();
    QVERIFY2(qAbs(shown.top() - (button.bottom() + 1)) <= 6 ||
                 qAbs(shown.bottom() + 1 - button.top()) <= 6,
             qPrintable(QStringLiteral("popup at y %1..%2, button at y %3..%4")
                            .arg(shown.top())
                            .arg(shown.bottom())
                            .arg(button.top())
                            .arg(button.bottom())));
    QVERIFY(shown.left() <= button.right() && shown.right() >= button.left());
    QVERIFY(vc.previewBtn->screen()->availableGeometry().contains(shown));

    copy(*popover);
    QCOMPARE(clipboardText(), "echo 'three'  \n\tdate\n");
    popover->close();
    QTRY_VERIFY_WITH_TIMEOUT(!popover, 500);

    vc.tableView->selectRow(0); // made anew, so it shows the selection of now
    vc.previewBtn->click();
    QCOMPARE(vc.findChildren<PreviewPopover *>().size(), 1);
    QCOMPARE(vc.findChild<PreviewPopover *>()->txtView->toPlainText(), "1");
}

void TestPreviewPopover::copiesTheViewsText()
{
    // CR LF, a no-break space and a line separator: the text view would rewrite each.
    const char *const exact = "printf 'a\u00a0b'\r\necho c\u2028\n";
    TestStore store;
    store.library("empty|old|exact", "|echo old|printf 'a\u00a0b'\r\necho c\u2028\n");

    auto *image = new QMimeData;
    image->setImageData(QImage(4, 4, QImage::Format_RGB32));
    putOnClipboard(image);
    PreviewPopover empty(*store.defaults);
    QCOMPARE(empty.txtView->toPlainText(), QString());
    copy(empty);
    QCOMPARE(clipboardText(), QString());
    QVERIFY(!QGuiApplication::clipboard()->mimeData()->hasImage());

    store.defaults->setInteger(sel_script, 1);
    PreviewPopover edited(*store.defaults);
    edited.txtView->moveCursor(QTextCursor::End);
    QTest::keyClicks(edited.txtView, QStringLiteral(" new"));
    copy(edited);
    QCOMPARE(clipboardText(), "echo old new");
    QCOMPARE(store.bodies().at(1), "echo old");
    QTest::keyClick(edited.txtView, Qt::Key_Return);
    copy(edited); // the second copy replaces the first
    QCOMPARE(clipboardText(), "echo old new\n");

    store.defaults->setInteger(sel_script, 2);
    PreviewPopover unedited(*store.defaults);
    copy(unedited);
    QCOMPARE(clipboardText(), QString::fromUtf8(exact));
}

void TestPreviewPopover::indexOutsideTheBodiesShowsNothing()
{
    TestStore store;
    store.library("a|b", "A|B");
    for (const qint64 index : {qint64(2), qint64(-1), qint64(1) << 40}) {
        store.defaults->setInteger(sel_script, index);
        PreviewPopover popover(*store.defaults);
        QCOMPARE(popover.txtView->toPlainText(), QString());
    }

    TestStore noBodies(R"({"all scripts names": ["a"], "sel script index": 0})");
    PreviewPopover popover(*noBodies.defaults);
    QCOMPARE(popover.txtView->toPlainText(), QString());
}

// One line of 20 MB, a surrogate pair where the view would break it: laid out whole, it took
// a gigabyte of memory.
void TestPreviewPopover::aHugeLineIsShownAndCopiedExactly()
{
    const QString body = QString(4095, QLatin1Char('a')) + QStringLiteral("\U0001F600") +
                         QString(20 * 1000 * 1000, QLatin1Char('z')) + QStringLiteral("\r\nend");
    TestStore store;
    store.defaults->setStringArray(all_scripts_name, {QStringLiteral("big")});
    store.defaults->setStringArray(all_scripts, {body});
    const double before = residentMiB();
    PreviewPopover popover(*store.defaults);
    popover.show();
    QVERIFY(QTest::qWaitForWindowExposed(&popover));
    QCOMPARE_LT(residentMiB() - before, 400);
    QVERIFY(popover.txtView->isReadOnly());
    QVERIFY(popover.txtView->toPlainText().startsWith(body.left(4097) + QLatin1Char('\n')));
    copy(popover);
    QVERIFY(clipboardText() == body);
}

QTEST_MAIN(TestPreviewPopover)
#include "tst_previewpopover.moc"
