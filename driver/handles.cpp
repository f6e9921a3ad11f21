#include "handles.h"

#include <unordered_map>

namespace pcomm {

void Handle::Disconnect() { Replace(nullptr); }

std::shared_ptr<OpenSocket> Handle::socket() {
  std::lock_guard<std::mutex> lock(mutex_);
  return socket_;
}

void Handle::Replace(std::shared_ptr<OpenSocket> s) {
  std::shared_ptr<OpenSocket> old;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    old = std::move(socket_);
    socket_ = std::move(s);
  }
  // Wakes a Receive still waiting on the old socket; the descriptor itself is
  // closed when its last user lets go.
  if (old) net::Shutdown(old->fd);
}

namespace {

struct Table {
  std::mutex mutex;
  std::unordered_map<std::uint32_t, std::shared_ptr<Handle>> handles;
  std::uint32_t next = 1;
};

Table& table() {
  static Table t;
  return t;
}

}  // namespace

std::uint32_t AddHandle(std::shared_ptr<Handle> h) {
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  if (t.next == 0) return 0;  // 2^32 - 1 handles made: refuse rather than reuse
  std::uint32_t id = t.next++;
  t.handles.emplace(id, std::move(h));
  return id;
}

std::shared_ptr<Handle> FindHandle(std::uint32_t id) {
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.handles.find(id);
  return it == t.handles.end() ? nullptr : it->second;
}

std::shared_ptr<Handle> RemoveHandle(std::uint32_t id) {
  Table& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.handles.find(id);
  if (it == t.handles.end()) return nullptr;
  auto h = std::move(it->second);
  t.handles.erase(it);
  return h;
}

}  // namespace pcomm
