#include "util/kvd_utils.h"

#include "util/kvd_colors.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <optional>
#include <random>
#include <utility>
#include <vector>

namespace {

// One generator for the process, seeded once from the clock; worker threads draw
// identifiers for their replies too, so every draw holds the lock.
std::mutex gRandomLock;
std::mt19937& Generator()
{
    static std::mt19937 generator(static_cast<std::mt19937::result_type>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    return generator;
}

int Random(std::mt19937& aGenerator, int aRange)
{
    return std::uniform_int_distribution<int>(0, aRange - 1)(aGenerator);
}

const char* const kPlaceholders[] = {
    "ALLUSERSPROFILE", "APPDATA",    "COMSPEC", "HOMEDRIVE",   "HOMEPATH", "PROGRAMFILES",
    "SYSTEMDRIVE",     "SYSTEMROOT", "TEMP",    "USERPROFILE", "WINDIR"};

std::optional<std::vector<std::pair<QString, QString>>> gEnvTable;

} // namespace

QString GenerateId()
{
    QString id(16, QChar());
    std::lock_guard<std::mutex> guard(gRandomLock);
    std::mt19937& generator = Generator();
    for (int i = 0; i < 16; ++i) {
        const int c = Random(generator, 2);
        const int l = Random(generator, 25);
        id[i] = QChar(65 + 32 * c + l);
    }
    return id;
}

bool IsGeneratedId(const QString& aText)
{
    if (aText.size() != 16)
        return false;
    for (const QChar c : aText) {
        const char16_t u = c.unicode();
        if (!((u >= 'A' && u <= 'Y') || (u >= 'a' && u <= 'y')))
            return false;
    }
    return true;
}

TDateTime RoundDateTime(int aUnit, int aStep, TDateTime aValue)
{
    static const long long kMSecsPerUnit[] = {1000LL, 60000LL, 3600000LL, 86400000LL};
    if (aUnit < 0 || aUnit > 3)
        return aValue;
    // A step below one would divide by zero; such a step means no rounding.
    if (aStep < 1)
        aStep = 1;
    // The day count is taken to the nearest millisecond before it is cut to
    // whole units: an exact minute held a hair below itself in floating point
    // must not fall to the minute before.
    const double msecs = std::round(aValue * kMSecsPerDay);
    if (!std::isfinite(msecs) || std::fabs(msecs) > 9e15)
        return aValue;
    const long long unit = kMSecsPerUnit[aUnit];
    const long long n = static_cast<long long>(msecs) / unit;
    const long long q = (n / aStep) * aStep;
    const long long r = n - q;
    long long result = q;
    if (static_cast<double>(r) >= aStep / 2.0)
        result += aStep;
    return static_cast<double>(result * unit) / kMSecsPerDay;
}

uint32_t LightenColor(uint32_t aColor, int aDelta)
{
    auto shift = [aDelta](int aPart) { return std::clamp(aPart + aDelta, 0, 255); };
    const TColorParts parts = ColorPartsOf(aColor);
    return ColorValueOf({shift(parts.red), shift(parts.green), shift(parts.blue)});
}

void ParseVersion(const QString& aText, int& aMajor, int& aMinor, int& aRelease, int& aBuild)
{
    aMajor = aMinor = aRelease = aBuild = 0;
    // Parts are split at dots and blanks; double quotes group characters.
    QStringList parts;
    QString current;
    bool quoted = false;
    bool any = false;
    for (const QChar ch : aText) {
        if (ch == QLatin1Char('"')) {
            quoted = !quoted;
            any = true;
        } else if (!quoted && (ch == QLatin1Char('.') || ch <= QLatin1Char(' '))) {
            if (ch == QLatin1Char('.') || any)
                parts << current;
            current.clear();
            any = false;
        } else {
            current += ch;
            any = true;
        }
    }
    if (any || !current.isEmpty() || aText.endsWith(QLatin1Char('.')))
        parts << current;
    int* outputs[] = {&aMajor, &aMinor, &aRelease, &aBuild};
    for (int i = 0; i < 4 && i < parts.size(); ++i) {
        bool ok = false;
        const int value = parts[i].toInt(&ok, 10);
        *outputs[i] = ok ? value : 0;
    }
}

bool IsNewerVersion(const QString& aCurrent, const QString& aOffered)
{
    if (aCurrent.isEmpty() || aOffered.isEmpty())
        return false;
    int c[4], o[4];
    ParseVersion(aCurrent, c[0], c[1], c[2], c[3]);
    ParseVersion(aOffered, o[0], o[1], o[2], o[3]);
    for (int i = 0; i < 4; ++i) {
        if (o[i] != c[i])
            return o[i] > c[i];
    }
    return false;
}

QString ExpandEnvVars(const QString& aText)
{
    if (!gEnvTable) {
        gEnvTable.emplace();
        for (const char* name : kPlaceholders) {
            const QString value = GetEnvVar(QLatin1String(name));
            if (!value.isEmpty())
                gEnvTable->emplace_back(QLatin1Char('%') + QLatin1String(name) + QLatin1Char('%'),
                                        value);
        }
    }
    QString result = aText;
    for (const auto& [placeholder, value] : *gEnvTable)
        result.replace(placeholder, value, Qt::CaseSensitive);
    return result;
}

void ResetEnvTableForTesting()
{
    gEnvTable.reset();
}

QString WithTrailingBackslash(const QString& aPath)
{
    if (aPath.isEmpty() || aPath.endsWith(QLatin1Char('\\')))
        return aPath;
    return aPath + QLatin1Char('\\');
}

QString FileBeside(const QString& aPath, const QString& aName)
{
    // Either separator ends the folder part: the system writes backslashes, the
    // file system here hands out slashes.
    const qsizetype cut =
        std::max(aPath.lastIndexOf(QLatin1Char('\\')), aPath.lastIndexOf(QLatin1Char('/')));
    if (cut < 0)
        return aName;
    QString folder = aPath.left(cut);
    if (aPath.at(cut) == QLatin1Char('/'))
        return folder + QLatin1Char('/') + aName;
    return WithTrailingBackslash(folder) + aName;
}

namespace {

// Where the text between the leading and the trailing blanks begins and ends.
std::pair<qsizetype, qsizetype> NonBlankRange(QStringView aText)
{
    qsizetype begin = 0, end = aText.size();
    while (begin < end && IsBlankChar(aText[begin]))
        ++begin;
    while (end > begin && IsBlankChar(aText[end - 1]))
        --end;
    return {begin, end};
}

} // namespace

bool IsBlankChar(QChar aChar)
{
    return aChar.unicode() <= 32;
}

bool IsBlankText(QStringView aText)
{
    return std::all_of(aText.begin(), aText.end(), IsBlankChar);
}

QStringView TrimBlanks(QStringView aText)
{
    const auto [begin, end] = NonBlankRange(aText);
    return aText.sliced(begin, end - begin);
}

QString TrimBlanks(const QString& aText)
{
    const auto [begin, end] = NonBlankRange(aText);
    return aText.mid(begin, end - begin);
}

int IndexOfString(const QString& aText, const QStringList& aItems)
{
    for (int i = 0; i < aItems.size(); ++i) {
        if (aItems[i] == aText)
            return i;
    }
    return -1;
}
