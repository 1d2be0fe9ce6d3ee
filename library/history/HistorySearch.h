#pragma once

#include <QString>

namespace cfb::HistorySearch {

// The full-text query for what the user typed: every word must be there, each as the beginning
// of a word of the line ("mee" finds "meeting"), letter case and accents aside. The words are
// quoted, so nothing typed is read as query syntax. Empty when nothing typed can be searched for.
QString matchExpression(const QString& typed);

} // namespace cfb::HistorySearch
