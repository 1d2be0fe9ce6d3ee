#pragma once

#include "FormFields.h"

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace cfb::service {

// multipart/form-data, read tolerantly: a delimiter line is any line made of two or more hyphens
// followed by the boundary, because the clients announce the boundary and then write 29 hyphens
// before it instead of the standard two. Each part becomes a field named by its
// Content-Disposition; a missing final delimiter, a part without a name or a repeated name make
// the whole body invalid.
class MultipartForm {
public:
    static constexpr int MaxParts = 8;

    // The boundary parameter of a Content-Type value, or empty when there is none.
    static QByteArray boundaryOf(QByteArrayView contentType);
    static std::optional<FormFields> parse(QByteArrayView body, QByteArrayView boundary);
};

} // namespace cfb::service
