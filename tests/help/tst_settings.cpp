#include "help/settings.h"

#include <QDesktopServices>
#include <QPushButton>
#include <QUrlQuery>
#include <QtTest>

namespace {

// The addresses the build was configured with, passed in separately from the code's own.
const QString websiteUrl = QStringLiteral(ZAPRUN_TEST_WEBSITE_URL);
const QString supportEmail = QStringLiteral(ZAPRUN_TEST_SUPPORT_EMAIL);

} // namespace

// Stands in for the browser and the mail program: remembers every address it is asked to open.
class UrlRecorder : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened << url; }
};

class TestSettings : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void addresses_areWellFormed();
    void webpage_opensTheSiteOncePerClick();
    void tutorial_opensTheMovieOnTheSameSite();
    void mail_hasOneRecipientSubjectAndEmptyBody();
    void buttons_sendTheirActions();

private:
    QPushButton *button(Settings &settings, const char *name);

    UrlRecorder recorder_;
};

void TestSettings::init()
{
    recorder_.opened.clear();
    for (const char *scheme : {"http", "https", "mailto", "file"})
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &recorder_, "open");
}

void TestSettings::cleanup()
{
    for (const char *scheme : {"http", "https", "mailto", "file"})
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
}

QPushButton *TestSettings::button(Settings &settings, const char *name)
{
    return settings.findChild<QPushButton *>(QString::fromLatin1(name));
}

void TestSettings::addresses_areWellFormed()
{
    const QUrl site(websiteUrl, QUrl::StrictMode);
    QVERIFY(site.isValid());
    QVERIFY(site.scheme() == QLatin1String("https") || site.scheme() == QLatin1String("http"));
    QVERIFY(!site.host().isEmpty());
    QCOMPARE(site.path(), QStringLiteral("/"));
    QCOMPARE(supportEmail.count(QLatin1Char('@')), 1);
}

void TestSettings::webpage_opensTheSiteOncePerClick()
{
    Settings settings;
    settings.webpage();
    QCOMPARE(recorder_.opened, (QList<QUrl>{QUrl(websiteUrl)}));
    QCOMPARE(recorder_.opened.at(0).toString(), websiteUrl);
    settings.webpage();
    QCOMPARE(recorder_.opened.size(), 2);
    QCOMPARE(recorder_.opened.at(1), QUrl(websiteUrl));
}

void TestSettings::tutorial_opensTheMovieOnTheSameSite()
{
    Settings settings;
    settings.tutorial();
    QCOMPARE(recorder_.opened.size(), 1);
    const QUrl movie = recorder_.opened.at(0);
    const QUrl site(websiteUrl);
    QCOMPARE(movie.scheme(), site.scheme());
    QCOMPARE(movie.host(), site.host());
    QCOMPARE(movie.port(), site.port());
    QCOMPARE(movie.path(), QStringLiteral("/zaprun.mov"));
    QVERIFY(!movie.hasQuery());
    QVERIFY(!movie.hasFragment());
    QCOMPARE(movie, site.resolved(QUrl(QStringLiteral("/zaprun.mov"))));
}

void TestSettings::mail_hasOneRecipientSubjectAndEmptyBody()
{
    Settings settings;
    settings.mail();
    QCOMPARE(recorder_.opened.size(), 1);
    const QUrl mail = recorder_.opened.at(0);
    QCOMPARE(mail.scheme(), QStringLiteral("mailto"));
    QCOMPARE(mail.path(), supportEmail);
    QVERIFY(!mail.path().contains(QLatin1Char(',')));

    const QUrlQuery query(mail);
    QCOMPARE(query.allQueryItemValues(QStringLiteral("subject")),
             QStringList{QStringLiteral("ZapRun")});
    QCOMPARE(query.allQueryItemValues(QStringLiteral("body")), QStringList{QString()});
    QStringList keys;
    for (const auto &item : query.queryItems())
        keys << item.first;
    keys.sort();
    // Nothing else: no further recipients (to, cc, bcc) and no attachment.
    QCOMPARE(keys, (QStringList{QStringLiteral("body"), QStringLiteral("subject")}));
    QCOMPARE(mail.toString(QUrl::FullyEncoded),
             QStringLiteral("mailto:%1?subject=ZapRun&body=").arg(supportEmail));
}

void TestSettings::buttons_sendTheirActions()
{
    Settings settings;
    settings.show();
    const QList<const char *> names{"webpageBtn", "tutorialBtn", "mailBtn"};
    for (const char *name : names)
        QVERIFY2(button(settings, name) != nullptr, name);

    QTest::mouseClick(button(settings, "webpageBtn"), Qt::LeftButton);
    QCOMPARE(recorder_.opened.size(), 1);
    QCOMPARE(recorder_.opened.last(), QUrl(websiteUrl));

    QTest::mouseClick(button(settings, "tutorialBtn"), Qt::LeftButton);
    QCOMPARE(recorder_.opened.size(), 2);
    QCOMPARE(recorder_.opened.last().path(), QStringLiteral("/zaprun.mov"));

    QTest::mouseClick(button(settings, "mailBtn"), Qt::LeftButton);
    QCOMPARE(recorder_.opened.size(), 3);
    QCOMPARE(recorder_.opened.last().scheme(), QStringLiteral("mailto"));

    QTest::mouseClick(button(settings, "mailBtn"), Qt::LeftButton);
    QCOMPARE(recorder_.opened.size(), 4);
    QCOMPARE(recorder_.opened.at(3), recorder_.opened.at(2));
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
