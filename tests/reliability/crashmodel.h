#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <random>
#include <vector>

// The seeded run of adds and deletes that the crash writer performs and the crash test expects.
// Operation i is a pure function of the seed, i and the library before it, so any process can
// replay the run up to a write number. Operation i is writes 2i+1 (names) and 2i+2 (bodies).
namespace crash {

constexpr std::size_t kMaxScripts = 12;

// The library as the ids of its scripts; an id is the number of the operation that added it.
using Library = std::vector<std::uint64_t>;

struct Op {
    bool add = true;
    std::uint64_t id = 0;  // the added script (add)
    std::size_t index = 0; // the deleted entry (delete)
};

inline QString nameOf(std::uint64_t id)
{
    return QStringLiteral("script %1 \u2713").arg(id);
}

// Empty, small, medium or up to ~200 KiB; every non-empty body starts with its own name, so that
// a file alone shows whether names and bodies pair up. Quotes, backslashes, tabs and non-ASCII
// text make the JSON escaping work.
inline QString bodyOf(std::uint64_t seed, std::uint64_t id)
{
    std::mt19937_64 rng(seed * 1000003u + id);
    const unsigned kind = rng() % 10;
    if (kind == 0)
        return {};
    const std::size_t size = kind < 5   ? rng() % 1024
                             : kind < 8 ? rng() % (32 * 1024)
                                        : 100 * 1024 + rng() % (100 * 1024);
    QString body = QStringLiteral("# %1\n").arg(nameOf(id));
    const QString filler = QStringLiteral("echo \"%1\"\t\\ \u00e9\u20ac\n").arg(id);
    body.reserve(qsizetype(body.size() + size));
    while (std::size_t(body.size()) < size)
        body += filler;
    return body;
}

inline Op opAt(std::uint64_t seed, std::uint64_t i, const Library &library)
{
    std::mt19937_64 rng(seed ^ (0x9E3779B97F4A7C15ull * (i + 1)));
    const bool add = library.empty() || (library.size() < kMaxScripts && rng() % 100 < 60);
    return {add, i, add ? 0 : std::size_t(rng() % library.size())};
}

inline void applyOp(const Op &op, Library &library)
{
    if (op.add)
        library.push_back(op.id);
    else
        library.erase(library.begin() + std::ptrdiff_t(op.index));
}

// The library after the first `ops` operations.
inline Library libraryAfter(std::uint64_t seed, std::uint64_t ops)
{
    Library library;
    for (std::uint64_t i = 0; i < ops; ++i)
        applyOp(opAt(seed, i, library), library);
    return library;
}

struct Arrays {
    bool exists = false; // no write yet: no file
    QStringList names;
    QStringList bodies;
};

// What the store holds once `write` writes are complete: after an odd one, the new names beside
// the old bodies.
inline Arrays arraysAfter(std::uint64_t seed, std::uint64_t write)
{
    const Library names = libraryAfter(seed, (write + 1) / 2);
    const Library bodies = libraryAfter(seed, write / 2);
    Arrays arrays{write > 0, {}, {}};
    for (std::uint64_t id : names)
        arrays.names.append(nameOf(id));
    for (std::uint64_t id : bodies)
        arrays.bodies.append(bodyOf(seed, id));
    return arrays;
}

} // namespace crash
