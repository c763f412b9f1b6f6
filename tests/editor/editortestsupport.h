#pragma once

#include "store/defaults.h"
#include "store/keys.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QTemporaryDir>

#include <memory>

// "a|b|" is the list "a", "b", "": short to write, blanks and empty entries kept.
inline QStringList list(const char *entries)
{
    return QString::fromUtf8(entries).split(QLatin1Char('|'));
}

// A store of its own for each test, optionally starting from a hand-written file.
struct TestStore {
    explicit TestStore(const QByteArray &json = {})
    {
        const QString path = dir.filePath(QStringLiteral("defaults.json"));
        QFile file(path);
        if (!json.isEmpty() && file.open(QIODevice::WriteOnly))
            file.write(json);
        file.close();
        defaults = std::make_unique<Defaults>(path);
    }
    void library(const char *names, const char *bodies)
    {
        defaults->setStringArray(all_scripts_name, list(names));
        defaults->setStringArray(all_scripts, list(bodies));
    }
    QStringList names() const { return defaults->stringArrayForKey(all_scripts_name).value(); }
    QStringList bodies() const { return defaults->stringArrayForKey(all_scripts).value(); }

    QTemporaryDir dir;
    std::unique_ptr<Defaults> defaults;
};

inline void putOnClipboard(QMimeData *data)
{
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
}

inline void putTextOnClipboard(const QString &text)
{
    auto *data = new QMimeData;
    data->setText(text);
    putOnClipboard(data);
}
