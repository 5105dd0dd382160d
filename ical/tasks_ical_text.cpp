#include "ical/tasks_ical_text.h"

namespace {

// The line without its folds: a line end followed by a space or a tab joins
// the two physical lines.
QByteArray Unfolded(const QByteArray& aRaw)
{
    QByteArray text;
    text.reserve(aRaw.size());
    for (qsizetype i = 0; i < aRaw.size(); ++i) {
        const char c = aRaw[i];
        if (c == '\r' || c == '\n') {
            qsizetype next = i + 1;
            if (c == '\r' && next < aRaw.size() && aRaw[next] == '\n')
                ++next;
            if (next < aRaw.size() && (aRaw[next] == ' ' || aRaw[next] == '\t')) {
                i = next;
                continue;
            }
            // The line's own end.
            break;
        }
        text += c;
    }
    return text;
}

QByteArray NameOf(const QByteArray& aUnfolded)
{
    qsizetype end = 0;
    while (end < aUnfolded.size() && aUnfolded[end] != ';' && aUnfolded[end] != ':')
        ++end;
    return aUnfolded.left(end).trimmed().toUpper();
}

QString UnescapeText(const QByteArray& aValue)
{
    QByteArray text;
    text.reserve(aValue.size());
    for (qsizetype i = 0; i < aValue.size(); ++i) {
        if (aValue[i] == '\\' && i + 1 < aValue.size()) {
            const char next = aValue[++i];
            text += next == 'n' || next == 'N' ? '\n' : next;
        } else {
            text += aValue[i];
        }
    }
    return QString::fromUtf8(text);
}

} // namespace

TIcalText::TIcalText(const QByteArray& aText)
{
    qsizetype start = 0;
    while (start < aText.size()) {
        qsizetype end = aText.indexOf('\n', start);
        end = end < 0 ? aText.size() : end + 1;
        const QByteArray physical = aText.mid(start, end - start);
        // A folded continuation belongs to the line before it.
        if (!FLines.empty() && (physical.startsWith(' ') || physical.startsWith('\t')))
            FLines.back().raw += physical;
        else
            FLines.push_back({physical, QByteArray()});
        start = end;
    }
    for (TLine& line : FLines)
        line.name = NameOf(Unfolded(line.raw));
}

QByteArray TIcalText::Text() const
{
    QByteArray text;
    for (const TLine& line : FLines)
        text += line.raw;
    return text;
}

QByteArray TIcalText::RawValue(const TLine& aLine)
{
    const QByteArray text = Unfolded(aLine.raw);
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '"')
            quoted = !quoted;
        else if (text[i] == ':' && !quoted)
            return text.mid(i + 1);
    }
    return QByteArray();
}

QByteArray TIcalText::LineEnd() const
{
    if (!FLines.empty() && FLines.front().raw.endsWith('\n') &&
        !FLines.front().raw.endsWith("\r\n"))
        return "\n";
    return "\r\n";
}

std::vector<TIcalText::TComponent> TIcalText::Calendars() const
{
    TComponent root{QByteArray(), -1, static_cast<int>(FLines.size())};
    std::vector<TComponent> calendars;
    for (const TComponent& component : Children(root)) {
        if (component.name == "VCALENDAR")
            calendars.push_back(component);
    }
    return calendars;
}

std::vector<TIcalText::TComponent> TIcalText::Children(const TComponent& aParent) const
{
    std::vector<TComponent> children;
    int depth = 0;
    TComponent open;
    for (int i = aParent.begin + 1; i < aParent.end; ++i) {
        const TLine& line = FLines[size_t(i)];
        if (line.name == "BEGIN") {
            if (depth == 0)
                open = {RawValue(line).trimmed().toUpper(), i, i};
            ++depth;
        } else if (line.name == "END" && depth > 0) {
            --depth;
            if (depth == 0) {
                open.end = i;
                children.push_back(open);
            }
        }
    }
    return children;
}

std::vector<int> TIcalText::OwnLines(const TComponent& aComponent) const
{
    std::vector<int> lines;
    int depth = 0;
    for (int i = aComponent.begin + 1; i < aComponent.end; ++i) {
        const QByteArray& name = FLines[size_t(i)].name;
        if (name == "BEGIN")
            ++depth;
        else if (name == "END" && depth > 0)
            --depth;
        else if (depth == 0 && !name.isEmpty())
            lines.push_back(i);
    }
    return lines;
}

QString TIcalText::Value(const TComponent& aComponent, const QByteArray& aName) const
{
    for (const int i : OwnLines(aComponent)) {
        if (FLines[size_t(i)].name == aName)
            return UnescapeText(RawValue(FLines[size_t(i)]));
    }
    return QString();
}

bool TIcalText::Has(const TComponent& aComponent, const QByteArray& aName) const
{
    for (const int i : OwnLines(aComponent)) {
        if (FLines[size_t(i)].name == aName)
            return true;
    }
    return false;
}

QStringList TIcalText::ListValues(const TComponent& aComponent, const QByteArray& aName) const
{
    QStringList values;
    const auto add = [&values](const QByteArray& aRaw) {
        const QString value = UnescapeText(aRaw).trimmed();
        if (!value.isEmpty() && !values.contains(value))
            values << value;
    };
    for (const int i : OwnLines(aComponent)) {
        if (FLines[size_t(i)].name != aName)
            continue;
        const QByteArray raw = RawValue(FLines[size_t(i)]);
        qsizetype start = 0;
        for (qsizetype at = 0; at < raw.size(); ++at) {
            if (raw[at] == '\\') {
                ++at;
            } else if (raw[at] == ',') {
                add(raw.mid(start, at - start));
                start = at + 1;
            }
        }
        add(raw.mid(start));
    }
    return values;
}

QByteArray TIcalText::Lines(const TComponent& aComponent) const
{
    QByteArray text;
    for (int i = aComponent.begin; i <= aComponent.end && i < int(FLines.size()); ++i)
        text += FLines[size_t(i)].raw;
    // A text without a final line end gets one, so that the lines can be
    // joined with others.
    if (!text.isEmpty() && !text.endsWith('\n'))
        text += LineEnd();
    return text;
}

QByteArray TIcalText::PropertyLines(const TComponent& aComponent,
                                    const QList<QByteArray>& aLeaveOut) const
{
    QByteArray text;
    for (const int i : OwnLines(aComponent)) {
        const TLine& line = FLines[size_t(i)];
        if (aLeaveOut.contains(line.name))
            continue;
        text += line.raw;
        if (!line.raw.endsWith('\n'))
            text += LineEnd();
    }
    return text;
}

bool TIcalText::TaskTodo(TComponent& aTodo) const
{
    const std::vector<TComponent> calendars = Calendars();
    if (calendars.empty())
        return false;
    bool found = false;
    for (const TComponent& child : Children(calendars.front())) {
        if (child.name != "VTODO")
            continue;
        if (!Has(child, "RECURRENCE-ID")) {
            aTodo = child;
            return true;
        }
        if (!found) {
            aTodo = child;
            found = true;
        }
    }
    return found;
}

void TIcalText::SetProperty(const TComponent& aComponent, const QByteArray& aName,
                            const QList<QByteArray>& aLines)
{
    const std::vector<int> own = OwnLines(aComponent);
    int at = -1;
    for (auto i = own.rbegin(); i != own.rend(); ++i) {
        if (FLines[size_t(*i)].name == aName) {
            FLines.erase(FLines.begin() + *i);
            at = *i;
        }
    }
    if (at < 0) {
        // After the last property: before the first sub-component (an alarm),
        // or before the END line.
        at = aComponent.end;
        for (int i = aComponent.begin + 1; i < aComponent.end; ++i) {
            if (FLines[size_t(i)].name == "BEGIN") {
                at = i;
                break;
            }
        }
    }
    const QByteArray end = LineEnd();
    // The line before the new ones needs its end, should it be the text's last.
    if (at > 0 && !FLines[size_t(at - 1)].raw.endsWith('\n'))
        FLines[size_t(at - 1)].raw += end;
    std::vector<TLine> added;
    for (const QByteArray& line : aLines)
        added.push_back({Fold(line, end), NameOf(line)});
    FLines.insert(FLines.begin() + at, added.begin(), added.end());
}

QByteArray TIcalText::Fold(const QByteArray& aLine, const QByteArray& aEnd)
{
    constexpr qsizetype kWidth = 75;
    QByteArray folded;
    qsizetype start = 0;
    qsizetype width = kWidth;
    while (aLine.size() - start > width) {
        qsizetype cut = start + width;
        // Never inside a UTF-8 sequence: back to the byte that starts it.
        while (cut > start + 1 && (static_cast<unsigned char>(aLine[cut]) & 0xC0) == 0x80)
            --cut;
        folded += aLine.mid(start, cut - start) + aEnd + ' ';
        start = cut;
        // The space that begins a continuation line counts.
        width = kWidth - 1;
    }
    folded += aLine.mid(start) + aEnd;
    return folded;
}

QByteArray TIcalText::EscapeText(const QString& aText)
{
    QByteArray escaped;
    const QByteArray text = aText.toUtf8();
    escaped.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (c) {
        case '\\':
            escaped += "\\\\";
            break;
        case ';':
            escaped += "\\;";
            break;
        case ',':
            escaped += "\\,";
            break;
        case '\r':
            // A CRLF is one line break.
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            escaped += "\\n";
            break;
        case '\n':
            escaped += "\\n";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}
