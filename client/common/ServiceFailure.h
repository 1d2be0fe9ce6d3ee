#pragma once

#include <QString>

namespace cfb::client {

// Tells "the service said no" from "no service answered" after a library call that returned
// false: the library keeps, per thread, why its last request got no reply at all.
class ServiceFailure {
public:
    // Forgets an earlier request's failure; called before a library call that may fail without
    // sending anything (a handle the library refuses itself).
    static void clear();
    // "Cannot reach the Confabo service at HOST: REASON." after a request on this thread that got
    // no reply, HOST being the service address in use; empty when the last request got a reply,
    // so that a false result was the service's own answer.
    static QString unreachableText();
};

} // namespace cfb::client
