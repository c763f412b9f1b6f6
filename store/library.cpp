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

// Each run of combining marks is sorted by combining class, keeping the order within a class.
void orderCombiningMarks(std::u32string &text)
{
    const auto isMark = [](char32_t c) {
        return QChar::combiningClass(c) != 0;
    };
    auto run = text.begin();
    while ((run = std::find_if(run, text.end(), isMark)) != text.end()) {
        const auto end = std::find_if_not(run, text.end(), isMark);
        std::stable_sort(run, end, [](char32_t x, char32_t y) {
            return QChar::combiningClass(x) < QChar::combiningClass(y);
        });
        run = end;
    }
}

// The canonical decomposition (NFD) in time linear in the text; QString::normalized() inserts
// each decomposition into the string in place, which is quadratic.
std::u32string decomposed(const QString &text)
{
    std::u32string out;
    out.reserve(std::size_t(text.size()));
    Decompositions known;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        appendDecomposed(c, out, known);
    }
    orderCombiningMarks(out);
    return out;
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
    return decomposed(a) == decomposed(b);
}

} // namespace library
