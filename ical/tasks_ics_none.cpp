// The iCalendar files of a build without libical: every import and export
// fails with one clear message and touches nothing.

#include "ical/tasks_ics.h"

namespace {

const QString kUnsupported = QStringLiteral("iCalendar files are not supported in this build.");

} // namespace

bool IcsSupported()
{
    return false;
}

QString TIcsImportResult::Summary() const
{
    return ok ? QStringLiteral("%1 added, %2 skipped (already present), %3 refused.")
                    .arg(added)
                    .arg(skipped)
                    .arg(refused.size())
              : error;
}

TIcsImportResult ImportIcs(const QString&)
{
    TIcsImportResult result;
    result.ok = false;
    result.error = kUnsupported;
    return result;
}

TIcsExportResult ExportIcs(const QString&, const QStringList&)
{
    TIcsExportResult result;
    result.ok = false;
    result.error = kUnsupported;
    return result;
}
