#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A throw-away certificate authority, made with the openssl command line in a temporary folder:
// P-256 keys (quick to make and to use), a self-signed authority certificate, and server
// certificates it signs. Nothing of it outlives the object.
class TestAuthority {
public:
    struct Issued {
        QString certificateFile; // PEM; empty when it could not be made
        QString keyFile;
    };

    explicit TestAuthority(const QString& name = QStringLiteral("Confabo Test Authority"));

    // False with a reason when openssl is missing or failed; tests skip on the first, fail on the
    // second.
    bool isValid() const { return error_.isEmpty(); }
    QString errorText() const { return error_; }
    static bool toolAvailable();

    QString certificateFile() const; // the authority's own certificate, for "CA File"

    // A server certificate with the subject CN=commonName for the subjectAltName entries
    // ("IP:127.0.0.1", "DNS:localhost"), valid from now for `days` days; -1 makes one that ended
    // a day ago.
    Issued issue(const QString& commonName, const QStringList& altNames, int days = 30);

private:
    bool openssl(const QStringList& arguments);
    QString newKey(const QString& name); // the key file; its public half beside it as NAME.pub

    QTemporaryDir dir_;
    QString error_;
    int issued_ = 0;
};
