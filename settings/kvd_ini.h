#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

// An INI file edited line by line, the way the Windows profile functions treat
// it: a write replaces the one line of its key (or adds it at the end of its
// section) and keeps every other line byte for byte, whatever its encoding,
// including lines that are not key=value at all. Each write replaces the file
// at once through a temporary file beside it, and only when every byte of it
// was written, so a crash or a full disk never leaves half a file or an empty
// one.
class TkvdIniFile
{
public:
    explicit TkvdIniFile(const QString& aFileName);

    const QString& FileName() const { return FFileName; }

    // The value of a key (blanks around it removed), or aDefault when the key is
    // missing. Bytes that are not UTF-8 read as U+FFFD.
    QString ReadString(const QString& aSection, const QString& aKey, const QString& aDefault) const;
    // Sets a key and writes the file; false when the file could not be written
    // (the value is kept in memory all the same, and the file stays as it was).
    // A key whose line already reads as aValue keeps its line as it is.
    bool WriteString(const QString& aSection, const QString& aKey, const QString& aValue);
    // Writes the file if a write has not reached it yet.
    bool Flush();

    // Why the file cannot be written, in words, or an empty text when it can.
    // After a write it is the outcome of the last write; before any, what the
    // file system shows now. One of:
    //   "the settings file is too large to be written" (over 64 MiB; left alone)
    //   "the settings file cannot be read" (so it is not written over either)
    //   "the settings folder does not exist"
    //   "the disk is read-only"
    //   "the settings file is read-only"
    //   "permission denied" (the folder does not let the file be replaced)
    //   "the disk is full"
    //   "the settings file cannot be written", followed by ": " and the system's
    //   error text when the system names one
    QString WriteProblem() const;

private:
    void ReadFile();
    bool WriteFile();
    QString SaveLines() const;
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
    // Set when the file must never be written over, with the reason.
    QString FUnwritable;
    // The outcome of the last write, once there was one.
    bool FWriteTried = false;
    QString FWriteProblem;
};
