// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/library.h"

#include "store/defaults.h"
#include "store/keys.h"

#include <QHash>

#include <algorithm>
#include <string>

namespace {

// Nothing below U+00C0 decomposes or combines: such a text is its own canonical form.
bool isPlain(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0xC0; });
}

// Hangul syllables decompose by arithmetic rather than by table.
constexpr char32_t kSyllableBase = 0xAC00;
constexpr char32_t kSyllableCount = 11172;
constexpr char32_t kLeadBase = 0x1100;
constexpr char32_t kVowelBase = 0x1161;
constexpr char32_t kTrailBase = 0x11A7;
constexpr char32_t kTrailCount = 28;
constexpr char32_t kVowelTrailCount = 21 * kTrailCount;

using Decompositions = QHash<char32_t, std::u32string>;

void appendDecomposed(char32_t c, std::u32string &out, Decompositions &known);

// Table lookups cost an allocation each, so every character is decomposed once per text.
const std::u32string &tableDecomposition(char32_t c, Decompositions &known)
{
    auto found = known.find(c);
    if (found != known.end())
        return *found;
    std::u32string parts;
    for (char32_t part : QChar::decomposition(c).toUcs4())
        appendDecomposed(part, parts, known);
    return *known.insert(c, parts);
}

void appendDecomposed(char32_t c, std::u32string &out, Decompositions &known)
{
    if (c - kSyllableBase < kSyllableCount) {
        const char32_t index = c - kSyllableBase;
        out += kLeadBase + index / kVowelTrailCount;
        out += kVowelBase + index % kVowelTrailCount / kTrailCount;
        if (index % kTrailCount != 0)
            out += kTrailBase + index % kTrailCount;
    } else if (c < 0xC0 || QChar::decompositionTag(c) != QChar::Canonical) {
        out += c;
    } else {
        out += tableDecomposition(c, known);
    }
}

// Each run of combining marks from `from` on is sorted by combining class, keeping the order
// within a class.
void orderCombiningMarks(std::u32string &text, std::size_t from)
{
    const auto isMark = [](char32_t c) {
        return c >= 0x300 && QChar::combiningClass(c) != 0;
    };
    auto run = text.begin() + std::ptrdiff_t(from);
    while ((run = std::find_if(run, text.end(), isMark)) != text.end()) {
        const auto end = std::find_if_not(run, text.end(), isMark);
        std::stable_sort(run, end, [](char32_t x, char32_t y) {
            return QChar::combiningClass(x) < QChar::combiningClass(y);
        });
        run = end;
    }
}

// Whether the text may be cut before position i: what follows decomposes to a starter first, so
// no mark is reordered across the cut.
bool startsUnitAt(const QString &text, qsizetype i)
{
    if (i >= text.size())
        return true;
    const char16_t c = text[i].unicode();
    return c < 0x300 || c - kSyllableBase < kSyllableCount ||
           (!QChar::isSurrogate(c) && QChar::combiningClass(c) == 0 &&
            QChar::decompositionTag(c) != QChar::Canonical);
}

// The canonical decomposition (NFD) of a text from a cut on, made a chunk at a time, each chunk
// cut where startsUnitAt allows; QString::normalized() inserts each decomposition into the
// string in place, which is quadratic.
class Decomposition {
public:
    Decomposition(const QString &text, qsizetype from)
        : text_(text)
        , pos_(from)
    {}

    bool done() const { return pos_ >= text_.size(); }

    void appendChunk()
    {
        const std::size_t from = out.size();
        qsizetype end = std::min(text_.size(), pos_ + kChunk);
        while (!startsUnitAt(text_, end))
            ++end;
        for (; pos_ < end; ++pos_) {
            char32_t c = text_[pos_].unicode();
            if (QChar::isHighSurrogate(c) && pos_ + 1 < end && text_[pos_ + 1].isLowSurrogate()) {
                c = QChar::surrogateToUcs4(text_[pos_], text_[pos_ + 1]);
                ++pos_;
            }
            appendDecomposed(c, out, known_);
        }
        orderCombiningMarks(out, from);
    }

    std::u32string out;

private:
    static constexpr qsizetype kChunk = 4096;
    const QString &text_;
    qsizetype pos_;
    Decompositions known_;
};

// Decomposes both texts side by side from the last cut before their first difference, and stops
// at the first difference of the decompositions. What compared equal is dropped, so that the
// comparison holds about a chunk of each, not both texts decomposed whole.
bool canonicallyEqual(const QString &a, const QString &b)
{
    const auto first = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    qsizetype cut = first.first - a.begin();
    while (cut > 0 && !(startsUnitAt(a, cut) && startsUnitAt(b, cut)))
        --cut;
    Decomposition x(a, cut);
    Decomposition y(b, cut);
    for (;;) {
        Decomposition &behind = x.out.size() <= y.out.size() ? x : y;
        if (behind.done())
            break;
        behind.appendChunk();
        const std::size_t common = std::min(x.out.size(), y.out.size());
        if (!std::equal(x.out.begin(), x.out.begin() + std::ptrdiff_t(common), y.out.begin()))
            return false;
        x.out.erase(0, common);
        y.out.erase(0, common);
    }
    return x.done() && y.done() && x.out.size() == y.out.size();
}

} // namespace

namespace library {

QStringList returnAllNames(const Defaults &defaults)
{
    return defaults.stringArrayForKey(all_scripts_name).value_or(QStringList{});
}

QStringList returnAllScripts(const Defaults &defaults)
{
    return defaults.stringArrayForKey(all_scripts).value_or(QStringList{});
}

StringArray storedScripts(const Defaults &defaults)
{
    return defaults.stringsForKey(all_scripts).value_or(StringArray{});
}

bool userAlreadyExist(const Defaults &defaults, const QString &kUsernameKey)
{
    return defaults.contains(kUsernameKey);
}

bool sameName(const QString &a, const QString &b)
{
    if (a == b)
        return true;
    if (isPlain(a) && isPlain(b))
        return false;
    return canonicallyEqual(a, b);
}

} // namespace library
