// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QJsonValue>
#include <QList>
#include <QStringList>

#include <initializer_list>
#include <optional>

// One JSON value as Qt's reader reads it from its text; undefined where Qt's reader fails.
QJsonValue jsonValueOf(QByteArrayView token);

// An array of strings as the store keeps it: the JSON text of its elements, each as the file
// holds it, decoded only when read. Ten thousand bodies are held once, as text, and a body is
// decoded to run or show it. An array made from strings keeps them, and gets its text when
// first written. Copies share both until one of them changes.
class StringArray {
public:
    StringArray()
        : strings_(QStringList())
    {}
    // Implicit, as the lists it stands for.
    StringArray(const QStringList &strings);
    StringArray(std::initializer_list<QString> strings);
    // `text` holds the elements' JSON texts, each indented by eight spaces, joined by ",\n",
    // from `offset` on; `ends` says where each ends. The text is shared, not copied.
    static StringArray fromText(const QByteArray &text, qsizetype offset,
                                const QList<qsizetype> &ends);

    static constexpr qsizetype kIndent = 8; // an element's indent inside the store's object

    qsizetype size() const { return strings_ ? strings_->size() : ends_.size(); }
    bool isEmpty() const { return size() == 0; }
    QString at(qsizetype i) const;
    // Every element, decoded once and kept.
    QStringList toList() const;

    void append(const QString &string);
    void removeAt(qsizetype i);
    // Grows with empty strings, or drops the last elements.
    void resize(qsizetype size);

    // The elements' texts joined, as pieces to write in turn, made now if need be: an element
    // that `before` holds in the same place or one place away keeps its text there. The pieces
    // are valid while the array is unchanged.
    QByteArrayList text(const StringArray &before = {});
    bool operator==(const StringArray &other) const;

private:
    // A stretch of the text: bytes of `bytes` from `offset` on, shared, never changed in place.
    // A delete cuts a piece in two and an add appends one, so copies that share the bodies of a
    // library stay shared; past kMostPieces they are joined into one.
    struct Piece {
        QByteArray bytes;
        qsizetype offset = 0;
        qsizetype length = 0;
        QByteArrayView view() const { return QByteArrayView(bytes).sliced(offset, length); }
    };
    static constexpr qsizetype kMostPieces = 16;

    qsizetype start(qsizetype i) const { return i == 0 ? 0 : ends_[i - 1] + 2; }
    QByteArrayView elementText(qsizetype i) const;
    std::optional<QByteArrayView> keptText(const QString &string, qsizetype i) const;
    void keepTextOfPrefix(const StringArray &before);
    void cut(qsizetype from, qsizetype to);
    void appendText(QByteArrayView element);
    void joinPieces();

    std::optional<QList<Piece>> text_; // the elements' texts joined by ",\n", in pieces
    QList<qsizetype> ends_;            // where each element ends in the joined text
    mutable std::optional<QStringList> strings_;
};
