#pragma once

#include <stdexcept>

namespace cfb::service {

// A request the service will not act on: a missing or over-long field, a number that does not
// parse, a malformed body. It is answered with an empty reply.
class BadRequest : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace cfb::service
