#pragma once

// iCalendar text edited as text: a calendar object is a list of content lines
// (each with its folded continuation lines and its line end, exactly as they
// came), grouped into components by their BEGIN and END lines. A change
// replaces the lines of the properties it sets and nothing else, so every
// property, parameter, component and byte that Ulmora does not change stays as
// the program that wrote it left it. Parsing with libical and writing it out
// again does not: it splits a CATEGORIES list into one line per value, drops
// parameters that repeat a default (VALUE=DATE-TIME), and would renumber the
// calendar's own properties (PRODID).
//
// libical reads the values; this class only finds and replaces lines.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

class TIcalText
{
public:
    // One component: its name ("VTODO") and its lines [begin, end], from its
    // BEGIN line to its END line, both included.
    struct TComponent
    {
        QByteArray name;
        int begin = 0;
        int end = 0;
    };

    explicit TIcalText(const QByteArray& aText);

    // The text with the changes made, byte for byte as read elsewhere.
    QByteArray Text() const;
    // The VCALENDARs of the text, in order.
    std::vector<TComponent> Calendars() const;
    // The direct sub-components of aParent (VTODO, VTIMEZONE, VEVENT, ...).
    std::vector<TComponent> Children(const TComponent& aParent) const;
    // The value of the first aName property of aComponent itself (not of its
    // sub-components), unescaped as plain text; empty when there is none.
    QString Value(const TComponent& aComponent, const QByteArray& aName) const;
    bool Has(const TComponent& aComponent, const QByteArray& aName) const;
    // Every value of the aName properties of aComponent itself, for a
    // property that holds a list (CATEGORIES): split at the commas that are
    // not escaped, each unescaped and trimmed, blanks left out, each once.
    QStringList ListValues(const TComponent& aComponent, const QByteArray& aName) const;

    // The lines of a component as they were, sub-components included.
    QByteArray Lines(const TComponent& aComponent) const;
    // The lines of aComponent's own properties (not its sub-components), as
    // they were, except those named in aLeaveOut.
    QByteArray PropertyLines(const TComponent& aComponent,
                             const QList<QByteArray>& aLeaveOut = {}) const;

    // The to-do that stands for the task in the first calendar: its first
    // VTODO without a RECURRENCE-ID (the others are changed occurrences of a
    // repeating one), else its first VTODO. False when there is none.
    bool TaskTodo(TComponent& aTodo) const;

    // Replaces every aName property of aComponent itself by aLines (whole
    // content lines without a line end, folded here; none removes them). The
    // new lines stand where the first old one stood, else after the
    // component's last property. The component's positions move; find it
    // again after a change.
    void SetProperty(const TComponent& aComponent, const QByteArray& aName,
                     const QList<QByteArray>& aLines);

    // A content line folded at 75 octets (never inside a UTF-8 sequence),
    // each physical line ended by aEnd.
    static QByteArray Fold(const QByteArray& aLine, const QByteArray& aEnd = "\r\n");
    // A TEXT value escaped: backslash, semicolon, comma and line breaks.
    static QByteArray EscapeText(const QString& aText);

private:
    struct TLine
    {
        // The whole line as read: folds and line end included.
        QByteArray raw;
        // The property name in capitals ("BEGIN", "DUE", "X-FOO").
        QByteArray name;
    };

    // The value part of a line's unfolded text (after the first colon that is
    // not inside a quoted parameter value).
    static QByteArray RawValue(const TLine& aLine);
    // The line end the text uses (that of its first line), CRLF by default.
    QByteArray LineEnd() const;
    // The indexes of aComponent's own property lines, in order: those of its
    // sub-components are passed over.
    std::vector<int> OwnLines(const TComponent& aComponent) const;

    std::vector<TLine> FLines;
};
