#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

// An INI file edited line by line, the way the Windows profile functions treat
// it: a write replaces the one line of its key (or adds it at the end of its
// section) and keeps every other line byte for byte, including lines that are
// not key=value at all. Each write replaces the file at once through a temporary
// file beside it, so a crash never leaves half a file.
class TkvdIniFile
{
public:
    explicit TkvdIniFile(const QString& aFileName);

    const QString& FileName() const { return FFileName; }

    // The value of a key (blanks around it removed), or aDefault when the key is missing.
    QString ReadString(const QString& aSection, const QString& aKey, const QString& aDefault) const;
    // Sets a key and writes the file; false when the file could not be written
    // (the value is kept in memory all the same).
    bool WriteString(const QString& aSection, const QString& aKey, const QString& aValue);
    // Writes the file if a write has not reached it yet.
    bool Flush();

private:
    void ReadFile();
    bool WriteFile();
    int FindSection(const QString& aSection) const;
    int FindKey(int aSectionLine, const QString& aKey) const;

    // A line without its break, and the break that followed it in the file
    // (empty for a last line without one), so unchanged lines are written back
    // exactly as they were read.
    struct TLine
    {
        QByteArray Text;
        QByteArray Break;
    };
    void Insert(int aAt, const QByteArray& aText);

    QString FFileName;
    std::vector<TLine> FLines;
    QByteArray FLineBreak = "\n";
    bool FDirty = false;
    bool FWritable = true;
};
