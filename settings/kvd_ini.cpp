#include "settings/kvd_ini.h"

#include "util/kvd_utils.h"

#include <QFile>
#include <QSaveFile>

namespace {

// A file larger than this is not a settings file; it is left alone and the
// defaults apply (writes then go to memory only, so nothing of it is lost).
constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;

QByteArray Trimmed(const QByteArray& aText)
{
    return aText.trimmed();
}

bool IsSectionHeader(const QByteArray& aLine, QByteArray* aName)
{
    const QByteArray line = Trimmed(aLine);
    if (!line.startsWith('[') || !line.contains(']'))
        return false;
    if (aName)
        *aName = Trimmed(line.mid(1, line.indexOf(']') - 1));
    return true;
}

bool SameName(const QByteArray& aStored, const QString& aName)
{
    return QString::fromUtf8(aStored).compare(aName, Qt::CaseInsensitive) == 0;
}

} // namespace

TkvdIniFile::TkvdIniFile(const QString& aFileName) : FFileName(aFileName)
{
    ReadFile();
}

void TkvdIniFile::ReadFile()
{
    QFile file(NativePath(FFileName));
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileSize) {
        // Unreadable: keep nothing and write nothing over it.
        FWritable = false;
        return;
    }
    const QByteArray data = file.readAll();
    if (data.contains("\r\n"))
        FLineBreak = "\r\n";
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype end = start;
        while (end < data.size() && data[end] != '\n' && data[end] != '\r')
            ++end;
        qsizetype next = end;
        if (next < data.size())
            next +=
                (data[next] == '\r' && next + 1 < data.size() && data[next + 1] == '\n') ? 2 : 1;
        FLines.push_back({data.mid(start, end - start), data.mid(end, next - end)});
        start = next;
    }
}

int TkvdIniFile::FindSection(const QString& aSection) const
{
    QByteArray name;
    for (int i = 0; i < static_cast<int>(FLines.size()); ++i) {
        if (IsSectionHeader(FLines[i].Text, &name) && SameName(name, aSection))
            return i;
    }
    return -1;
}

int TkvdIniFile::FindKey(int aSectionLine, const QString& aKey) const
{
    for (int i = aSectionLine + 1; i < static_cast<int>(FLines.size()); ++i) {
        const QByteArray& line = FLines[i].Text;
        if (IsSectionHeader(line, nullptr))
            break;
        const qsizetype eq = line.indexOf('=');
        if (eq > 0 && SameName(Trimmed(line.left(eq)), aKey))
            return i;
    }
    return -1;
}

QString TkvdIniFile::ReadString(const QString& aSection, const QString& aKey,
                                const QString& aDefault) const
{
    const int section = FindSection(aSection);
    if (section < 0)
        return aDefault;
    const int key = FindKey(section, aKey);
    if (key < 0)
        return aDefault;
    const QByteArray& line = FLines[key].Text;
    return QString::fromUtf8(Trimmed(line.mid(line.indexOf('=') + 1)));
}

bool TkvdIniFile::WriteString(const QString& aSection, const QString& aKey, const QString& aValue)
{
    // A line break inside a value would split it into lines of its own.
    QString value = aValue;
    value.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QByteArray line = aKey.toUtf8() + '=' + value.toUtf8();

    int section = FindSection(aSection);
    if (section < 0) {
        section = static_cast<int>(FLines.size());
        Insert(section, '[' + aSection.toUtf8() + ']');
    }
    const int key = FindKey(section, aKey);
    if (key >= 0) {
        if (FLines[key].Text == line && !FDirty)
            return true;
        FLines[key].Text = line;
    } else {
        // After the section's last key, before any blank lines that separate it
        // from the next section.
        int at = section + 1;
        for (int i = section + 1; i < static_cast<int>(FLines.size()); ++i) {
            if (IsSectionHeader(FLines[i].Text, nullptr))
                break;
            if (!Trimmed(FLines[i].Text).isEmpty())
                at = i + 1;
        }
        Insert(at, line);
    }
    FDirty = true;
    return WriteFile();
}

void TkvdIniFile::Insert(int aAt, const QByteArray& aText)
{
    // A line added behind a last line without a break gives that line one.
    if (aAt > 0 && FLines[aAt - 1].Break.isEmpty())
        FLines[aAt - 1].Break = FLineBreak;
    FLines.insert(FLines.begin() + aAt, TLine{aText, FLineBreak});
}

bool TkvdIniFile::Flush()
{
    return !FDirty || WriteFile();
}

bool TkvdIniFile::WriteFile()
{
    if (!FWritable || FFileName.isEmpty())
        return false;
    QSaveFile file(NativePath(FFileName));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (const TLine& line : FLines) {
        file.write(line.Text);
        file.write(line.Break);
    }
    if (!file.commit())
        return false;
    FDirty = false;
    return true;
}
