#include "platform/network.h"

#include "platform/text.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <memory>
#include <string>

namespace qvr {

namespace {

struct InterfaceListDeleter {
    void operator()(ifaddrs* list) const noexcept { ::freeifaddrs(list); }
};

} // namespace

bool hasNetworkInterface()
{
    ifaddrs* raw = nullptr;
    if (::getifaddrs(&raw) != 0)
        return false;
    const std::unique_ptr<ifaddrs, InterfaceListDeleter> list(raw);
    for (const ifaddrs* entry = list.get(); entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || (entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0)
            continue;
        if (entry->ifa_addr->sa_family == AF_INET || entry->ifa_addr->sa_family == AF_INET6)
            return true;
    }
    return false;
}

bool isLoopbackHost(std::string_view host)
{
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    if (equalsIgnoringCase(host, "localhost"))
        return true;
    const std::string text(host);
    in_addr v4 {};
    if (::inet_pton(AF_INET, text.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6 {};
    return ::inet_pton(AF_INET6, text.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

} // namespace qvr
