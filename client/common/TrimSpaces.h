#pragma once

#include <QString>

namespace cfb::client {

// The text with leading and trailing spaces removed (other white space stays), as the fields of
// the sign-in window and the list dialogs are read.
inline QString trimSpaces(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' '))
        ++first;
    while (last > first && text.at(last - 1) == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first);
}

} // namespace cfb::client
