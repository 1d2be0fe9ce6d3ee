#include "ServiceOptions.h"

#include <cstdlib>

namespace cfb::service {
namespace {

// "HOST:PORT", "[IPv6]:PORT"; false when it is neither.
bool parseListen(const std::string& text, std::string& host, uint16_t& port)
{
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 == text.size())
        return false;
    std::string h = text.substr(0, colon);
    if (h.size() >= 2 && h.front() == '[' && h.back() == ']')
        h = h.substr(1, h.size() - 2);
    else if (h.find(':') != std::string::npos)
        return false; // an IPv6 address needs brackets
    const std::string p = text.substr(colon + 1);
    if (p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long number = std::strtoul(p.c_str(), nullptr, 10);
    if (number > 65535 || h.empty())
        return false;
    host = h;
    port = uint16_t(number);
    return true;
}

} // namespace

std::string ServiceOptions::defaultDatabase()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && *data == '/')
        return std::string(data) + "/confabo/confabo.db";
    const char* home = std::getenv("HOME");
    if (home && *home)
        return std::string(home) + "/.local/share/confabo/confabo.db";
    return {};
}

const char* ServiceOptions::usage()
{
    return "usage: confabo-service [--listen HOST:PORT] [--db FILE] [--path /cfb_maint.asp] [--threads N] "
           "[--quiet]\n"
           "  --listen HOST:PORT  address to accept requests on (default 127.0.0.1:8080; port 0 picks a free one)\n"
           "  --db FILE           SQLite database (default $XDG_DATA_HOME/confabo/confabo.db)\n"
           "  --path PATH         request path of the endpoint (default /cfb_maint.asp)\n"
           "  --threads N         worker threads (default: one per core)\n"
           "  --quiet             no log line per request on standard error\n";
}

std::optional<ServiceOptions> ServiceOptions::parse(const std::vector<std::string>& arguments, std::string& error)
{
    ServiceOptions options;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& name = arguments[i];
        const auto value = [&]() -> const std::string* { return i + 1 < arguments.size() ? &arguments[++i] : nullptr; };
        if (name == "--quiet") {
            options.quiet = true;
        } else if (name == "--help" || name == "-h") {
            options.help = true;
        } else if (name == "--listen") {
            const std::string* v = value();
            if (!v || !parseListen(*v, options.host, options.port)) {
                error = "--listen wants HOST:PORT";
                return std::nullopt;
            }
        } else if (name == "--db") {
            const std::string* v = value();
            if (!v || v->empty()) {
                error = "--db wants a file name";
                return std::nullopt;
            }
            options.database = *v;
        } else if (name == "--path") {
            const std::string* v = value();
            if (!v || v->empty()) {
                error = "--path wants a request path";
                return std::nullopt;
            }
            options.path = v->front() == '/' ? *v : "/" + *v;
        } else if (name == "--threads") {
            const std::string* v = value();
            const unsigned long n = v ? std::strtoul(v->c_str(), nullptr, 10) : 0;
            if (!v || n < 1 || n > 256 || v->find_first_not_of("0123456789") != std::string::npos) {
                error = "--threads wants a number from 1 to 256";
                return std::nullopt;
            }
            options.threads = unsigned(n);
        } else {
            error = "unknown option " + name;
            return std::nullopt;
        }
    }
    if (options.database.empty())
        options.database = defaultDatabase();
    if (options.database.empty()) {
        error = "no --db given and neither XDG_DATA_HOME nor HOME is set";
        return std::nullopt;
    }
    return options;
}

} // namespace cfb::service
