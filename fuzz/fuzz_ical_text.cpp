// Arbitrary bytes as iCalendar text edited line by line: read unchanged, the
// text must come back byte for byte; after a property of the task's to-do is
// set, every line of the other components must still be there in order, and
// the text must read again with the new property once.

#include "ical/tasks_ical_text.h"

#include <cstddef>
#include <cstdint>

namespace {

[[noreturn]] void Fail()
{
    __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize)
{
    const QByteArray bytes(reinterpret_cast<const char*>(aData), static_cast<qsizetype>(aSize));
    TIcalText text(bytes);
    if (text.Text() != bytes)
        Fail();
    for (const TIcalText::TComponent& calendar : text.Calendars()) {
        for (const TIcalText::TComponent& child : text.Children(calendar)) {
            if (child.begin > child.end)
                Fail();
            text.Value(child, "UID");
            text.ListValues(child, "CATEGORIES");
            text.PropertyLines(child, {"METHOD"});
        }
    }
    TIcalText::TComponent todo;
    if (!text.TaskTodo(todo))
        return 0;
    const QByteArray before = text.Lines(todo);
    QString summary = QString::fromUtf8(bytes.left(200));
    text.SetProperty(todo, "SUMMARY", {"SUMMARY:" + TIcalText::EscapeText(summary)});
    // A line break of any form reads back as one.
    summary.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
    TIcalText again(text.Text());
    TIcalText::TComponent edited;
    if (!again.TaskTodo(edited) || again.Value(edited, "SUMMARY") != summary)
        Fail();
    // Nothing else of the file moved: what stood before and after the to-do
    // is the same text.
    const QByteArray after = text.Text();
    const qsizetype at = bytes.indexOf(before);
    if (at >= 0 && !after.startsWith(bytes.left(at)))
        Fail();
    for (const QByteArray& line : TIcalText::Fold("X-" + bytes.left(300).toHex()).split('\n')) {
        if (line.size() > 77)
            Fail();
    }
    return 0;
}
