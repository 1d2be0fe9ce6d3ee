#pragma once

#include <QString>

#include <stdexcept>

namespace cfb {

// The one error type the library raises to its callers: an error number a caller can branch on
// and a description it can show.
class ConfaboError : public std::runtime_error {
public:
    // The numbers are the classic runtime error numbers, which callers may compare against.
    enum Number : int {
        InvalidArgument = 5, // a position or key that is not in the collection
        Overflow = 6, // a number too large for the type it is read into
        TypeMismatch = 13, // text that is not the number or Boolean it must be
        FileNotFound = 53, // a file the call must read cannot be read
        ObjectNotSet = 91, // a service reply lacks an element the call must read
        DuplicateKey = 457, // a key that the collection already holds
        InvalidPicture = 481, // bytes that are no picture
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
