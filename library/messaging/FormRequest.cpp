#include "messaging/FormRequest.h"

#include "messaging/modINET.h"

namespace cfb {

FormRequest::FormRequest(const char* mode)
    : body_(QByteArray("mode=") + mode)
{
}

FormRequest& FormRequest::add(const char* field, const QString& value)
{
    body_ += '&';
    body_ += field;
    body_ += '=';
    body_ += URLEncode(value);
    return *this;
}

FormRequest& FormRequest::add(const char* field, int64_t number)
{
    body_ += '&';
    body_ += field;
    body_ += '=';
    body_ += QByteArray::number(qlonglong(number));
    return *this;
}

XmlDocument FormRequest::post() const
{
    return PostServiceRequest(body_, FormHeader);
}

} // namespace cfb
