#include "history/HistorySearch.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace cfb::HistorySearch {

QString matchExpression(const QString& typed)
{
    // Bounded: a query is a few words, not a pasted page.
    constexpr int MaxWords = 16;
    constexpr int MaxWordLength = 64;
    static const QRegularExpression space(QStringLiteral("\\s+"));
    QStringList terms;
    for (const QString& word : typed.split(space, Qt::SkipEmptyParts)) {
        // A word of punctuation alone holds nothing the index keeps.
        if (!std::any_of(word.begin(), word.end(), [](QChar c) { return c.isLetterOrNumber(); }))
            continue;
        QString quoted = word.left(MaxWordLength);
        quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        terms << QLatin1Char('"') + quoted + QStringLiteral("\"*");
        if (terms.size() == MaxWords)
            break;
    }
    return terms.join(QLatin1Char(' '));
}

} // namespace cfb::HistorySearch
