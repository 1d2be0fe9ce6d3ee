#include "MultipartForm.h"

#include <vector>

namespace cfb::service {
namespace {

struct Delimiter {
    qsizetype start; // first hyphen
    qsizetype end; // just after the boundary
};

QByteArrayView trimmed(QByteArrayView text)
{
    return text.trimmed();
}

// Splits "a; b=c; d=\"e;f\"" at semicolons outside quotes.
std::vector<QByteArrayView> parameters(QByteArrayView value)
{
    std::vector<QByteArrayView> out;
    bool quoted = false;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= value.size(); ++i) {
        if (i < value.size() && value[i] == '"')
            quoted = !quoted;
        if (i == value.size() || (value[i] == ';' && !quoted)) {
            out.push_back(trimmed(value.sliced(start, i - start)));
            start = i + 1;
        }
    }
    return out;
}

// The value of parameter `name` ("name=value" or name="value"), matched without letter case.
std::optional<QByteArray> parameter(QByteArrayView headerValue, QByteArrayView name)
{
    for (const QByteArrayView p : parameters(headerValue)) {
        const qsizetype equals = p.indexOf('=');
        if (equals < 0 || trimmed(p.first(equals)).compare(name, Qt::CaseInsensitive) != 0)
            continue;
        QByteArrayView v = trimmed(p.sliced(equals + 1));
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
            v = v.sliced(1, v.size() - 2);
        return v.toByteArray();
    }
    return std::nullopt;
}

// The delimiter lines of the body in order, at most `limit` of them. A delimiter is a line that
// starts with two or more hyphens followed by the boundary; its start is the line's first hyphen.
// The scan visits each line once: a boundary that starts with k hyphens can only begin k hyphens
// before the end of the line's leading run of hyphens, except for a boundary made of hyphens
// alone, which begins at every place in that run.
std::vector<Delimiter> delimiters(QByteArrayView body, QByteArrayView boundary, size_t limit)
{
    std::vector<Delimiter> found;
    qsizetype leading = 0;
    while (leading < boundary.size() && boundary[leading] == '-')
        ++leading;
    const QByteArrayView rest = boundary.sliced(leading);
    for (qsizetype line = 0; line < body.size() && found.size() < limit;) {
        qsizetype run = line;
        while (run < body.size() && body[run] == '-')
            ++run;
        if (rest.isEmpty()) {
            for (qsizetype at = line + 2; at + leading <= run && found.size() < limit; ++at)
                found.push_back({line, at + boundary.size()});
        } else if (const qsizetype at = run - leading; at >= line + 2 && body.sliced(run).startsWith(rest)) {
            found.push_back({line, at + boundary.size()});
        }
        const qsizetype end = body.indexOf('\n', run);
        if (end < 0)
            break;
        line = end + 1;
    }
    return found;
}

// The name of a part from its header lines, or nullopt.
std::optional<QByteArray> partName(QByteArrayView headers)
{
    qsizetype start = 0;
    while (start < headers.size()) {
        qsizetype end = headers.indexOf('\n', start);
        if (end < 0)
            end = headers.size();
        const QByteArrayView line = trimmed(headers.sliced(start, end - start));
        start = end + 1;
        const qsizetype colon = line.indexOf(':');
        if (colon < 0 || trimmed(line.first(colon)).compare("Content-Disposition", Qt::CaseInsensitive) != 0)
            continue;
        return parameter(line.sliced(colon + 1), "name");
    }
    return std::nullopt;
}

} // namespace

QByteArray MultipartForm::boundaryOf(QByteArrayView contentType)
{
    const std::optional<QByteArray> boundary = parameter(contentType, "boundary");
    // RFC 2046 limits a boundary to 70 characters.
    return boundary && boundary->size() <= 70 ? *boundary : QByteArray();
}

std::optional<FormFields> MultipartForm::parse(QByteArrayView body, QByteArrayView boundary)
{
    if (boundary.isEmpty())
        return std::nullopt;
    // Reading stops at the closing delimiter or after MaxParts parts, so no more delimiters matter.
    const std::vector<Delimiter> found = delimiters(body, boundary, MaxParts + 2);
    FormFields form;
    int parts = 0;
    for (size_t i = 0; i < found.size(); ++i) {
        const QByteArrayView rest = body.sliced(found[i].end);
        if (rest.startsWith("--"))
            return form; // the closing delimiter
        if (i + 1 == found.size() || ++parts > MaxParts)
            return std::nullopt;

        // The delimiter line ends (after optional padding) with a line break.
        qsizetype from = found[i].end;
        while (from < body.size() && (body[from] == ' ' || body[from] == '\t'))
            ++from;
        if (body.sliced(from).startsWith("\r\n"))
            from += 2;
        else if (body.sliced(from).startsWith("\n"))
            from += 1;
        else
            return std::nullopt;

        // The line break before the next delimiter belongs to the delimiter, not the content.
        qsizetype to = found[i + 1].start;
        if (to > from && body[to - 1] == '\n')
            --to;
        if (to > from && body[to - 1] == '\r')
            --to;
        if (to < from)
            return std::nullopt;
        const QByteArrayView part = body.sliced(from, to - from);

        qsizetype headersEnd = part.indexOf("\r\n\r\n");
        qsizetype contentStart = headersEnd + 4;
        if (headersEnd < 0) {
            headersEnd = part.indexOf("\n\n");
            contentStart = headersEnd + 2;
        }
        if (headersEnd < 0)
            return std::nullopt;
        const std::optional<QByteArray> name = partName(part.first(headersEnd));
        if (!name || name->isEmpty() || !form.add(*name, part.sliced(contentStart).toByteArray()))
            return std::nullopt;
    }
    return std::nullopt; // no closing delimiter
}

} // namespace cfb::service
