// SPDX-License-Identifier: GPL-3.0-or-later
#include "help/settings.h"

#include "help/endpoints.h"
#include "ui_settings.h"

#include <QDesktopServices>
#include <QUrl>
#include <QUrlQuery>

Settings::Settings(QWidget *parent)
    : QWidget(parent)
    , ui_(std::make_unique<Ui::Settings>())
{
    ui_->setupUi(this);
}

Settings::~Settings() = default;

// The desktop reports no failure worth showing: an address it cannot open ends silently.
void Settings::webpage()
{
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(kWebsiteUrl)));
}

void Settings::tutorial()
{
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(kTutorialUrl)));
}

// One recipient, the subject and an explicitly empty body ("body=": the value is empty, not
// null): the mail program opens a new message for the user to complete; nothing is sent here.
void Settings::mail()
{
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("subject"), QStringLiteral("ZapRun"));
    query.addQueryItem(QStringLiteral("body"), QStringLiteral(""));
    QUrl url;
    url.setScheme(QStringLiteral("mailto"));
    url.setPath(QString::fromUtf8(kSupportEmail));
    url.setQuery(query);
    QDesktopServices::openUrl(url);
}
