// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/stringarray.h"

#include <QJsonObject>
#include <QMap>

#include <optional>

// The members of the store's top-level JSON object as the store keeps them: every array of
// strings as a StringArray, every other value as Qt reads it.
struct Members {
    QJsonObject values;
    QMap<QString, StringArray> arrays;
    qsizetype written = 0; // members in the text, a key written twice counted twice
};

namespace members {

// The members of a plain store (an object of strings, numbers, booleans, null and arrays of
// strings), found without decoding its arrays; nullopt for any other text, which Qt's reader
// then reads. Only what Qt's reader reads is read, as it reads it. The arrays share the bytes.
std::optional<Members> readPlain(const QByteArray &bytes);
// The members of an object that Qt's reader made of the bytes.
Members fromObject(const QJsonObject &object, const QByteArray &bytes);

} // namespace members
