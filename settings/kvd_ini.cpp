#include "settings/kvd_ini.h"

#include "util/kvd_errors.h"
#include "util/kvd_utils.h"
#include "util/tasks_log.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStorageInfo>

namespace {

KVD_DECLARE_ERROR(EIniFileError, EkvdError)

// A file larger than this is not a settings file; it is left alone and the
// defaults apply (writes then go to memory only, so nothing of it is lost).
constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;

// Some editors put a byte order mark before the first line; it is kept, but
// the first line is read without it.
const QByteArray kByteOrderMark = "\xEF\xBB\xBF";

const QString kTooLarge = QStringLiteral("the settings file is too large to be written");
const QString kUnreadable = QStringLiteral("the settings file cannot be read");
const QString kNoFolder = QStringLiteral("the settings folder does not exist");
const QString kReadOnlyDisk = QStringLiteral("the disk is read-only");
const QString kReadOnlyFile = QStringLiteral("the settings file is read-only");
const QString kPermissionDenied = QStringLiteral("permission denied");
const QString kDiskFull = QStringLiteral("the disk is full");

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

// The value of a key=value line as ReadString gives it.
QString ValueOf(const QByteArray& aLine)
{
    return QString::fromUtf8(Trimmed(aLine.mid(aLine.indexOf('=') + 1)));
}

// The file's own mode allows a write. Replacing the file needs only the
// folder's permission, and root needs none; a file without any write bit is
// meant to stay as it is, as it would on Windows.
bool HasWriteBit(const QFileInfo& aFile)
{
    return aFile.permissions() &
           (QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther);
}

// What the file system shows against replacing aPath, or an empty text.
QString FolderProblem(const QString& aPath)
{
    const QFileInfo file(aPath);
    const QFileInfo folder(file.absolutePath());
    if (!folder.isDir())
        return kNoFolder;
    const QStorageInfo storage(folder.absoluteFilePath());
    if (storage.isValid() && storage.isReadOnly())
        return kReadOnlyDisk;
    if (file.exists() && !HasWriteBit(file))
        return kReadOnlyFile;
    if (!folder.isWritable())
        return kPermissionDenied;
    return {};
}

// Too little room for a file of aBytes beside aPath (a file takes whole blocks).
bool DiskFull(const QString& aPath, qint64 aBytes)
{
    const QStorageInfo storage(QFileInfo(aPath).absolutePath());
    if (!storage.isValid())
        return false;
    const qint64 block = qMax<qint64>(storage.blockSize(), 1);
    const qint64 needed = qMax<qint64>((aBytes + block - 1) / block, 1) * block;
    return storage.bytesAvailable() < needed;
}

QString SystemProblem(const QFileDevice& aFile)
{
    // Qt's text where the system named no cause, as for a write that stopped
    // short of its end.
    const QString text = aFile.errorString();
    if (text == QCoreApplication::translate("QIODevice", "Unknown error"))
        return QStringLiteral("the settings file cannot be written");
    return QStringLiteral("the settings file cannot be written: %1").arg(text);
}

} // namespace

TkvdIniFile::TkvdIniFile(const QString& aFileName) : FFileName(aFileName)
{
    ReadFile();
}

void TkvdIniFile::ReadFile()
{
    if (FFileName.isEmpty()) {
        FUnwritable = kNoFolder;
        return;
    }
    QFile file(NativePath(FFileName));
    if (!file.exists())
        return;
    // A file that cannot be read whole is kept from every write: writing the
    // lines that were read would lose the others.
    if (!file.open(QIODevice::ReadOnly)) {
        FUnwritable = kUnreadable;
        return;
    }
    if (file.size() > kMaxFileSize) {
        FUnwritable = kTooLarge;
        return;
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        FUnwritable = kUnreadable;
        return;
    }
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
    // Added lines end the way the file's lines do (CR LF, LF or CR alone).
    for (const TLine& line : FLines) {
        if (!line.Break.isEmpty()) {
            FLineBreak = line.Break;
            break;
        }
    }
}

int TkvdIniFile::FindSection(const QString& aSection) const
{
    QByteArray name;
    for (int i = 0; i < static_cast<int>(FLines.size()); ++i) {
        QByteArray text = FLines[i].Text;
        if (i == 0 && text.startsWith(kByteOrderMark))
            text.remove(0, kByteOrderMark.size());
        if (IsSectionHeader(text, &name) && SameName(name, aSection))
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
    return ValueOf(FLines[key].Text);
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
        // A line that already reads as the new value stays byte for byte. Bytes
        // that are not UTF-8 read as U+FFFD: writing the value back as it was
        // read would put U+FFFD in their place and lose the user's text.
        if (ValueOf(FLines[key].Text) == ValueOf(line))
            return !FDirty || WriteFile();
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

QString TkvdIniFile::WriteProblem() const
{
    if (!FUnwritable.isEmpty())
        return FUnwritable;
    if (FWriteTried)
        return FWriteProblem;
    const QString path = NativePath(FFileName);
    const QString problem = FolderProblem(path);
    if (!problem.isEmpty())
        return problem;
    return DiskFull(path, QFileInfo(path).size()) ? kDiskFull : QString();
}

bool TkvdIniFile::WriteFile()
{
    const bool wasFailing = FWriteTried && !FWriteProblem.isEmpty();
    FWriteTried = true;
    FWriteProblem = FUnwritable.isEmpty() ? SaveLines() : FUnwritable;
    if (FWriteProblem.isEmpty()) {
        FDirty = false;
        return true;
    }
    // Logged when the writes start failing, not for every key that follows:
    // a full disk fails all seven keys of a load.
    if (!wasFailing) {
        if (TtasksLog* log = GetTasksLog())
            log->LogException(EIniFileError(QStringLiteral("Settings not saved in \"%1\": %2")
                                                .arg(NativePath(FFileName), FWriteProblem)));
    }
    return false;
}

QString TkvdIniFile::SaveLines() const
{
    const QString path = NativePath(FFileName);
    const bool existed = QFileInfo::exists(path);
    if (existed && !HasWriteBit(QFileInfo(path)))
        return kReadOnlyFile;
    QByteArray data;
    for (const TLine& line : FLines)
        data += line.Text + line.Break;

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        const QString problem = FolderProblem(path);
        if (!problem.isEmpty())
            return problem;
        return DiskFull(path, data.size()) ? kDiskFull : SystemProblem(file);
    }
    // QSaveFile gives a file it replaces the old file's mode; a new one is for
    // the user alone, from before its first byte (on Linux the temporary file
    // has no name until the commit, so nobody can open it in between).
    if (!existed)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // QSaveFile buffers the bytes, and a buffer that fails to reach the disk
    // when commit closes the file does not stop commit from renaming it over
    // the old file: a full disk would leave the settings file empty. So the
    // write and the flush are checked here, and commit comes only after both
    // succeeded.
    if (file.write(data) != data.size() || !file.flush()) {
        const bool full = file.error() == QFileDevice::ResourceError || DiskFull(path, data.size());
        const QString problem = full ? kDiskFull : SystemProblem(file);
        file.cancelWriting();
        return problem;
    }
    if (!file.commit()) {
        const QString problem = FolderProblem(path);
        return problem.isEmpty() ? SystemProblem(file) : problem;
    }
    return {};
}
