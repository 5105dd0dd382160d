#pragma once

#include "util/kvd_datetime.h"

#include <QIODevice>
#include <QString>
#include <QStringList>
#include <cstdint>

class QFile;

// 16 letters, each from A to Y or a to y. Safe to call from any thread.
QString GenerateId();
// Whether aText has the form of the ids GenerateId makes: a UID of another
// program that has it can be the id of the task it becomes.
bool IsGeneratedId(const QString& aText);

// Rounds aValue to a multiple of aStep units (0 seconds, 1 minutes, 2 hours,
// 3 days) after cutting it to whole units; halves round up.
TDateTime RoundDateTime(int aUnit, int aStep, TDateTime aValue);

// Adds aDelta to red, green and blue, each clamped to 0..255; the top byte is 0.
uint32_t LightenColor(uint32_t aColor, int aDelta);

QString GetFileVersion(const QString& aFileName);
QString GetAppVersion();
void ParseVersion(const QString& aText, int& aMajor, int& aMinor, int& aRelease, int& aBuild);
bool IsNewerVersion(const QString& aCurrent, const QString& aOffered);

QString GetEnvVar(const QString& aName);
// Replaces the eleven %NAME% placeholders with their environment values.
QString ExpandEnvVars(const QString& aText);
// Forgets the placeholder table so the next expansion reads the environment
// again. Only tests call it; the program builds the table once.
void ResetEnvTableForTesting();

// Starts aFileName with administrator rights without waiting for it; true when
// the program was started. ULMORA_ELEVATE names the command used instead of pkexec.
// aWnd is the native handle (WId) of the window that the elevation prompt
// belongs to, 0 for none: a handle rather than a widget, so that the core
// that starts the updater needs no widget library. pkexec asks through the
// desktop's own agent and has no use for it.
bool RunElevated(quintptr aWnd, const QString& aFileName, const QString& aParams);

QString FileBeside(const QString& aPath, const QString& aName);
QString WithTrailingBackslash(const QString& aPath);
int IndexOfString(const QString& aText, const QStringList& aItems);

// Blank is what the program trims off a text: a character of code 32 or below,
// the space and every control character.
bool IsBlankChar(QChar aChar);
// True when aText holds nothing but blank characters, or nothing at all.
bool IsBlankText(QStringView aText);
// aText without its blank characters at either end. The QString form shares
// aText's data when there is nothing to take off.
QStringView TrimBlanks(QStringView aText);
QString TrimBlanks(const QString& aText);

// A path as the system writes it (backslashes) in the form the file system takes.
QString NativePath(const QString& aPath);

// Creates the folder aPath and every missing folder above it, each one for the
// user alone (mode 0700); folders that exist keep their modes. True when aPath
// is a folder afterwards.
bool CreatePrivateFolder(const QString& aPath);
// Opens aFile; a file that this creates is for the user alone (mode 0600), one
// that exists keeps its mode.
bool OpenPrivateFile(QFile& aFile, QIODevice::OpenMode aMode);
