#pragma once

#include "messaging/XmlDocument.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace cfb {

// The form body of one service operation: "mode=NAME" followed by "&field=value" for each field
// in the order added, values form-encoded.
class FormRequest {
public:
    explicit FormRequest(const char* mode);

    FormRequest& add(const char* field, const QString& value);
    FormRequest& add(const char* field, int64_t number);

    const QByteArray& body() const { return body_; }

    // Posts the body with the form header; see PostServiceRequest.
    XmlDocument post() const;

private:
    QByteArray body_;
};

} // namespace cfb
