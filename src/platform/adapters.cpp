#include "platform/adapters.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace platform {

bool SystemAdapters::List(std::vector<Adapter>* out) {
  out->clear();
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return false;
  auto find = [&](const char* name) -> Adapter& {
    auto it = std::find_if(out->begin(), out->end(),
                           [&](const Adapter& a) { return a.description == name; });
    if (it != out->end()) return *it;
    out->push_back(Adapter{name, {}, {}});
    return out->back();
  };
  for (ifaddrs* ifa = list; ifa; ifa = ifa->ifa_next) {
    if (!ifa->ifa_name) continue;
    Adapter& a = find(ifa->ifa_name);
    if (!ifa->ifa_addr) continue;
    if (ifa->ifa_addr->sa_family == AF_PACKET) {
      auto* ll = reinterpret_cast<sockaddr_ll*>(ifa->ifa_addr);
      std::memcpy(a.mac.data(), ll->sll_addr, std::min<std::size_t>(6, ll->sll_halen));
    } else if (ifa->ifa_addr->sa_family == AF_INET) {
      char text[INET_ADDRSTRLEN] = {};
      auto* in = reinterpret_cast<sockaddr_in*>(ifa->ifa_addr);
      if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) a.ipv4.push_back(text);
    }
  }
  ::freeifaddrs(list);
  for (Adapter& a : *out)
    if (a.ipv4.empty()) a.ipv4.push_back("0.0.0.0");
  return true;
}

}  // namespace platform
