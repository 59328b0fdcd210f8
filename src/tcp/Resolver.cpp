// Which look-up ResolveIPv4 takes; the same on every platform.
#include "Platform.h"

namespace tcp::platform {

namespace {
Resolver g_resolver = SystemResolveIPv4;
} // namespace

Resolver SetResolver(Resolver resolver) {
    const Resolver previous = g_resolver;
    g_resolver = resolver ? resolver : SystemResolveIPv4;
    return previous;
}

bool ResolveIPv4(const std::string &host, uint32_t &address, int &err, std::string &text) {
    return g_resolver(host, address, err, text);
}

} // namespace tcp::platform
