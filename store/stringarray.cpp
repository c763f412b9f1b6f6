// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/stringarray.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace {

// Qt's reader drops U+FEFF at the start of a string as a byte-order mark; escaped, it stays.
constexpr char16_t kByteOrderMark = 0xFEFF;

// How many bytes a character takes in JSON text as Qt writes it, U+FEFF escaped; 0 for a
// surrogate.
qsizetype escapedSize(char16_t c)
{
    if (c == kByteOrderMark)
        return 6;
    if (c >= 0x20 && c < 0x80)
        return c == u'"' || c == u'\\' ? 2 : 1;
    if (c < 0x20)
        return c >= 0x08 && c <= 0x0d && c != 0x0b ? 2 : 6; // \b \t \n \f \r, or \u00XX
    if (QChar::isSurrogate(c))
        return 0;
    return c < 0x800 ? 2 : 3;
}

char *appendEscaped(char16_t c, char *out)
{
    static constexpr char kHex[] = "0123456789abcdef";
    static constexpr char kShort[] = "btnvfr"; // for \b to \r, \v excepted
    if (c >= 0x20 && c < 0x80) {
        if (c == u'"' || c == u'\\')
            *out++ = '\\';
        *out++ = char(c);
    } else if (c < 0x20 || c == kByteOrderMark) {
        *out++ = '\\';
        if (c >= 0x08 && c <= 0x0d && c != 0x0b) {
            *out++ = kShort[c - 0x08];
        } else {
            *out++ = 'u';
            for (int shift = 12; shift >= 0; shift -= 4)
                *out++ = kHex[c >> shift & 0xf];
        }
    } else if (c < 0x800) {
        *out++ = char(0xc0 | c >> 6);
        *out++ = char(0x80 | (c & 0x3f));
    } else {
        *out++ = char(0xe0 | c >> 12);
        *out++ = char(0x80 | (c >> 6 & 0x3f));
        *out++ = char(0x80 | (c & 0x3f));
    }
    return out;
}

// A string's JSON text as Qt writes it, escaped straight into one buffer of its final size: a
// body runs to tens of megabytes. Qt writes a text with surrogates, which it escapes when they
// do not pair.
QByteArray escaped(const QString &string)
{
    qsizetype size = 2;
    for (const QChar c : string) {
        const qsizetype n = escapedSize(c.unicode());
        if (n == 0) {
            const QByteArray alone =
                QJsonDocument(QJsonArray{string}).toJson(QJsonDocument::Compact);
            return alone.mid(1, alone.size() - 2);
        }
        size += n;
    }
    QByteArray text(size, Qt::Uninitialized);
    char *out = text.data();
    *out++ = '"';
    for (const QChar c : string)
        out = appendEscaped(c.unicode(), out);
    *out = '"';
    return text;
}

// A string's JSON text as Qt reads it. Without escapes, that is the UTF-8 between the quotes
// (a byte-order mark at its start dropped, as Qt's reader and QString::fromUtf8 both do).
QString decoded(QByteArrayView token)
{
    const QByteArrayView inner = token.sliced(1, token.size() - 2);
    if (!inner.contains('\\'))
        return QString::fromUtf8(inner);
    return jsonValueOf(token).toString();
}

bool sameData(const QString &a, const QString &b)
{
    return a.constData() == b.constData() && a.size() == b.size();
}

} // namespace

QJsonValue jsonValueOf(QByteArrayView token)
{
    QByteArray array;
    array.reserve(token.size() + 2);
    array.append('[').append(token).append(']');
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(array, &error);
    return error.error == QJsonParseError::NoError ? document.array().first()
                                                   : QJsonValue(QJsonValue::Undefined);
}

StringArray::StringArray(const QStringList &strings)
    : strings_(strings)
{}

StringArray::StringArray(std::initializer_list<QString> strings)
    : strings_(QStringList(strings))
{}

StringArray StringArray::fromText(const QByteArray &text, qsizetype offset,
                                  const QList<qsizetype> &ends)
{
    StringArray array;
    array.strings_.reset();
    array.text_.emplace();
    if (!ends.isEmpty())
        array.text_->append(Piece{text, offset, ends.last()});
    array.ends_ = ends;
    return array;
}

QByteArrayView StringArray::elementText(qsizetype i) const
{
    qsizetype from = start(i) + kIndent;
    for (const Piece &piece : *text_) {
        if (from < piece.length)
            return piece.view().sliced(from, ends_[i] - start(i) - kIndent);
        from -= piece.length;
    }
    return {};
}

QString StringArray::at(qsizetype i) const
{
    if (strings_)
        return strings_->at(i);
    return decoded(elementText(i));
}

QStringList StringArray::toList() const
{
    if (!strings_) {
        QStringList strings;
        strings.reserve(ends_.size());
        for (qsizetype i = 0; i < ends_.size(); ++i)
            strings.append(decoded(elementText(i)));
        strings_ = strings;
    }
    return *strings_;
}

void StringArray::append(const QString &string)
{
    if (text_)
        appendText(escaped(string));
    if (strings_)
        strings_->append(string);
}

// The element goes with the separator after it; the last one, with the separator before it.
void StringArray::removeAt(qsizetype i)
{
    if (text_) {
        const bool last = i + 1 == ends_.size();
        const qsizetype from = last ? std::max<qsizetype>(start(i) - 2, 0) : start(i);
        const qsizetype to = last ? ends_[i] : start(i + 1);
        cut(from, to);
        ends_.removeAt(i);
        for (qsizetype j = i; j < ends_.size(); ++j)
            ends_[j] -= to - from;
    }
    if (strings_)
        strings_->removeAt(i);
}

void StringArray::resize(qsizetype size)
{
    while (this->size() > size)
        removeAt(this->size() - 1);
    while (this->size() < size)
        append(QString());
}

QByteArrayList StringArray::text(const StringArray &before)
{
    if (!text_) {
        keepTextOfPrefix(before);
        for (qsizetype i = ends_.size(); i < strings_->size(); ++i) {
            const QString &string = strings_->at(i);
            const std::optional<QByteArrayView> kept = before.keptText(string, i);
            appendText(kept ? *kept : QByteArrayView(escaped(string)));
        }
    }
    QByteArrayList pieces;
    for (const Piece &piece : *text_) {
        const QByteArrayView view = piece.view();
        pieces.append(view.size() == piece.bytes.size()
                          ? piece.bytes
                          : QByteArray::fromRawData(view.data(), view.size()));
    }
    return pieces;
}

// The strings this array begins with that `before` begins with too keep its pieces, uncopied.
void StringArray::keepTextOfPrefix(const StringArray &before)
{
    qsizetype kept = 0;
    if (before.text_ && before.strings_) {
        const qsizetype most = std::min(strings_->size(), before.strings_->size());
        while (kept < most && sameData(strings_->at(kept), before.strings_->at(kept)))
            ++kept;
    }
    text_ = kept > 0 ? before.text_ : QList<Piece>();
    ends_ = before.ends_;
    if (kept < ends_.size())
        cut(kept == 0 ? 0 : ends_[kept - 1], ends_.last());
    ends_.resize(kept);
}

// The text this array holds for the very string at i or one place away.
std::optional<QByteArrayView> StringArray::keptText(const QString &string, qsizetype i) const
{
    if (!text_ || !strings_)
        return std::nullopt;
    for (const qsizetype j : {i, i + 1, i - 1}) {
        if (j >= 0 && j < strings_->size() && sameData(strings_->at(j), string))
            return elementText(j);
    }
    return std::nullopt;
}

bool StringArray::operator==(const StringArray &other) const
{
    if (!text_ || !other.text_)
        return toList() == other.toList();
    if (ends_ != other.ends_)
        return false;
    for (qsizetype i = 0; i < ends_.size(); ++i) {
        if (elementText(i) != other.elementText(i))
            return false;
    }
    return true;
}

// Removes bytes from..to of the joined text from the pieces, which keep their bytes.
void StringArray::cut(qsizetype from, qsizetype to)
{
    QList<Piece> kept;
    qsizetype at = 0;
    for (const Piece &piece : std::as_const(*text_)) {
        const qsizetype end = at + piece.length;
        if (from > at)
            kept.append(Piece{piece.bytes, piece.offset, std::min(end, from) - at});
        if (to < end)
            kept.append(Piece{piece.bytes, piece.offset + std::max<qsizetype>(to - at, 0),
                              end - std::max(to, at)});
        at = end;
    }
    text_ = kept;
    joinPieces();
}

// An element goes onto the end of the last piece where no other array shares it, else into a
// piece of its own.
void StringArray::appendText(QByteArrayView element)
{
    QByteArray bytes;
    if (!ends_.isEmpty())
        bytes.append(",\n");
    bytes.append(QByteArray(kIndent, ' ')).append(element);
    const qsizetype end = (ends_.isEmpty() ? 0 : ends_.last()) + bytes.size();
    Piece *last = text_->isEmpty() ? nullptr : &text_->last();
    if (last && last->bytes.isDetached() && last->offset + last->length == last->bytes.size()) {
        last->bytes.append(bytes);
        last->length += bytes.size();
    } else {
        text_->append(Piece{bytes, 0, bytes.size()});
    }
    ends_.append(end);
    joinPieces();
}

// Past kMostPieces, the pieces are copied into one.
void StringArray::joinPieces()
{
    if (text_->size() <= kMostPieces)
        return;
    QByteArray joined;
    joined.reserve(ends_.isEmpty() ? 0 : ends_.last());
    for (const Piece &piece : std::as_const(*text_))
        joined.append(piece.view());
    text_ = QList<Piece>{Piece{joined, 0, joined.size()}};
}
