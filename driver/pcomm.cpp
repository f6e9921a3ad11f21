// DRV_Get and the two function tables. Everything behind them is plain C++;
// only DRV_Get leaves the library.
#include "pcomm.h"

#include <cstring>
#include <string>

#include "handles.h"
#include "ipv4.h"

namespace pcomm {
namespace {

std::string BoundedText(const char* text, std::size_t size) { return std::string(text, strnlen(text, size)); }

int CreateLink(const DriverConfig* config, DrvHandle* out) {
  if (!config || !out) return kErrBadArgument;
  *out = 0;
  if (config->port <= 0 || config->port > 65535) return kErrBadArgument;
  *out = AddHandle(std::make_shared<LinkHandle>(config->port));
  return *out ? 0 : kErrBadHandle;
}

int CreateSearch(const DriverConfig* config, DrvHandle* out) {
  if (!config || !out) return kErrBadArgument;
  *out = 0;
  auto broadcast = ParseIpv4(BoundedText(config->u.search.address, sizeof config->u.search.address));
  if (!broadcast || config->port <= 0 || config->port > 65535) return kErrBadArgument;
  *out = AddHandle(std::make_shared<SearchHandle>(config->port, config->u.search.port2, *broadcast));
  return *out ? 0 : kErrBadHandle;
}

int Connect(DrvHandle id, const char* address) {
  auto h = FindHandle(id);
  return h ? h->Connect(address) : kErrBadHandle;
}

void Disconnect(DrvHandle id) {
  if (auto h = FindHandle(id)) h->Disconnect();
}

int Send(DrvHandle id, const void* bytes, int length) {
  auto h = FindHandle(id);
  return h ? h->Send(bytes, length) : kErrBadHandle;
}

int Receive(DrvHandle id, void* buffer, int capacity, int* count) {
  auto h = FindHandle(id);
  if (!h) {
    if (count) *count = 0;
    return kErrBadHandle;
  }
  return h->Receive(buffer, capacity, count);
}

void Destroy(DrvHandle id) {
  if (auto h = RemoveHandle(id)) {
    h->Disconnect();
    h->gate().Open();
  }
}

void BeginExchange(DrvHandle id, int timeout) {
  if (auto h = FindHandle(id)) h->gate().Begin(timeout);
}

void EndExchange(DrvHandle id) {
  if (auto h = FindHandle(id)) h->gate().End();
}

// Slots 2 and 6 are never called by the tool; they answer "not supported".
int Reserved(DrvHandle) { return kErrBadArgument; }

const DriverTable kLinkTable = {CreateLink, Connect, Reserved, Disconnect, Send,
                                Receive,    Reserved, Destroy, BeginExchange, EndExchange};
const DriverTable kSearchTable = {CreateSearch, Connect, Reserved, Disconnect, Send,
                                  Receive,      Reserved, Destroy, BeginExchange, EndExchange};

}  // namespace
}  // namespace pcomm

extern "C" __attribute__((visibility("default"))) int DRV_Get(int id, void** table) {
  if (!table) return -1;
  switch (id) {
    case DRV_LINK_TABLE:
      *table = const_cast<DriverTable*>(&pcomm::kLinkTable);
      return 0;
    case DRV_SEARCH_TABLE:
      *table = const_cast<DriverTable*>(&pcomm::kSearchTable);
      return 0;
    default:
      return -1;
  }
}
