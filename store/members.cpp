// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/members.h"

#include <QJsonArray>

#include <simdjson.h>

#include <algorithm>
#include <cstring>

namespace ondemand = simdjson::ondemand;

namespace {

// A token as simdjson gives it runs on over the blanks that follow it.
std::string_view trimmed(std::string_view token)
{
    while (!token.empty() && std::strchr(" \t\r\n", token.back()))
        token.remove_suffix(1);
    return token;
}

// Qt's reader takes any character after a backslash but for "u", which needs four hex digits.
bool qtReadsEscapes(std::string_view token)
{
    const char *end = token.data() + token.size();
    for (const char *p = token.data();
         (p = static_cast<const char *>(std::memchr(p, '\\', size_t(end - p)))); p += 2) {
        if (p[1] == 'u' &&
            (end - p < 6 || !std::all_of(p + 2, p + 6, [](char c) { return std::isxdigit(c); })))
            return false;
    }
    return true;
}

// The strings' tokens as the store writes them: each on a line of its own, eight blanks in,
// joined by a comma. Such an array is shared with the file's bytes; any other is copied.
StringArray arrayOf(const QByteArray &bytes, const std::vector<std::string_view> &tokens)
{
    const char *base = bytes.constData();
    const auto startOf = [base](std::string_view token) {
        return token.data() - base;
    };
    const QByteArray indent(StringArray::kIndent, ' ');
    const QByteArray separator = ",\n" + indent;
    const auto laidOut = [&](std::size_t i) {
        const QByteArrayView gap = i == 0 ? QByteArrayView(indent) : QByteArrayView(separator);
        const qsizetype from = startOf(tokens[i]) - gap.size();
        return from >= 0 && QByteArrayView(base + from, gap.size()) == gap;
    };
    QList<qsizetype> ends;
    ends.reserve(qsizetype(tokens.size()));
    if (!tokens.empty() && std::all_of(tokens.begin(), tokens.end(), [&](const auto &token) {
            return laidOut(std::size_t(&token - tokens.data()));
        })) {
        const qsizetype offset = startOf(tokens.front()) - StringArray::kIndent;
        for (const std::string_view token : tokens)
            ends.append(startOf(token) + qsizetype(token.size()) - offset);
        return StringArray::fromText(bytes, offset, ends);
    }
    QByteArray text;
    for (const std::string_view token : tokens) {
        if (!text.isEmpty())
            text.append(",\n");
        text.append(indent).append(token.data(), qsizetype(token.size()));
        ends.append(text.size());
    }
    return StringArray::fromText(text, 0, ends);
}

// The tokens of an array of strings; nullopt when it holds anything else.
std::optional<std::vector<std::string_view>> stringTokens(ondemand::value value)
{
    ondemand::array array;
    if (value.get_array().get(array))
        return std::nullopt;
    std::vector<std::string_view> tokens;
    for (auto element : array) {
        ondemand::value item;
        ondemand::json_type type{};
        if (element.get(item) || item.type().get(type) || type != ondemand::json_type::string)
            return std::nullopt;
        const std::string_view token = trimmed(item.raw_json_token());
        if (!qtReadsEscapes(token))
            return std::nullopt;
        tokens.push_back(token);
    }
    return tokens;
}

// Stores one member; a later member of the same key replaces it, as in Qt's reader.
bool addMember(Members &members, const QByteArray &bytes, const QString &key, ondemand::value value)
{
    members.values.remove(key);
    members.arrays.remove(key);
    ++members.written;
    ondemand::json_type type{};
    if (value.type().get(type) || type == ondemand::json_type::object)
        return false;
    if (type == ondemand::json_type::array) {
        const auto tokens = stringTokens(value);
        if (tokens)
            members.arrays.insert(key, arrayOf(bytes, *tokens));
        return tokens.has_value();
    }
    const std::string_view token = trimmed(value.raw_json_token());
    const QJsonValue scalar = jsonValueOf(QByteArrayView(token.data(), qsizetype(token.size())));
    if (!scalar.isUndefined())
        members.values.insert(key, scalar);
    return !scalar.isUndefined();
}

// How many members the JSON text gives its top-level object, repeated keys counted each time:
// the colons outside strings one level deep. The bytes of a string are skipped at memchr's pace.
qsizetype membersWritten(const QByteArray &text)
{
    qsizetype members = 0;
    int depth = 0;
    const char *end = text.constEnd();
    for (const char *p = text.constBegin(); p < end; ++p) {
        switch (*p) {
        case '"':
            for (++p; (p = static_cast<const char *>(std::memchr(p, '"', size_t(end - p)))); ++p) {
                const char *slash = p;
                while (slash[-1] == '\\')
                    --slash;
                if ((p - slash) % 2 == 0)
                    break;
            }
            if (!p)
                return members;
            break;
        case '{':
        case '[':
            ++depth;
            break;
        case '}':
        case ']':
            --depth;
            break;
        case ':':
            members += depth == 1;
            break;
        default:
            break;
        }
    }
    return members;
}

} // namespace

namespace members {

std::optional<Members> readPlain(const QByteArray &bytes)
{
    // simdjson reads up to SIMDJSON_PADDING bytes past the text: the reader leaves them spare.
    const std::size_t size = std::size_t(bytes.size());
    if (std::size_t(bytes.capacity()) < size + simdjson::SIMDJSON_PADDING)
        return std::nullopt;
    ondemand::parser parser;
    ondemand::document document;
    ondemand::object object;
    if (parser.iterate(bytes.constData(), size, std::size_t(bytes.capacity())).get(document) ||
        document.get_object().get(object))
        return std::nullopt;
    Members members;
    for (auto field : object) {
        std::string_view key;
        ondemand::value value;
        if (field.unescaped_key().get(key) || field.value().get(value))
            return std::nullopt;
        const QString name = QString::fromUtf8(key.data(), qsizetype(key.size()));
        // Qt's reader drops a byte-order mark at the start of a key.
        if (name.startsWith(QChar(0xFEFF)) || !addMember(members, bytes, name, value))
            return std::nullopt;
    }
    if (document.current_location().error() != simdjson::OUT_OF_BOUNDS)
        return std::nullopt;
    return members;
}

Members fromObject(const QJsonObject &object, const QByteArray &bytes)
{
    Members members;
    members.written = membersWritten(bytes);
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        const QJsonValue value = it.value();
        const QJsonArray array = value.toArray();
        if (value.isArray() && std::all_of(array.begin(), array.end(),
                                           [](const QJsonValue &v) { return v.isString(); })) {
            QStringList strings;
            strings.reserve(array.size());
            for (const QJsonValue &element : array)
                strings.append(element.toString());
            members.arrays.insert(it.key(), strings);
        } else {
            members.values.insert(it.key(), value);
        }
    }
    return members;
}

} // namespace members
