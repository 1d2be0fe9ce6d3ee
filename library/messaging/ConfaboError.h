#pragma once

#include <QString>

#include <stdexcept>

namespace cfb {

// The one error type the library raises to its callers: an error number a caller can branch on
// and a description it can show.
class ConfaboError : public std::runtime_error {
public:
    enum Number : int {
        InvalidArgument = 5,
        Overflow = 6,
        TypeMismatch = 13,
        ObjectNotSet = 91,
        DuplicateKey = 457,
        FileNotFound = 53,
        InvalidPicture = 481,
    };

    ConfaboError(int number, const QString& description);

    int number() const { return number_; }
    QString description() const { return description_; }

    static ConfaboError typeMismatch(const QString& what);
    static ConfaboError missingElement(const QString& path);

private:
    int number_;
    QString description_;
};

} // namespace cfb
