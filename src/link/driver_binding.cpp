#include "link/driver_binding.h"

#include <dlfcn.h>

#include <cstring>

#include "platform/tooldir.h"

namespace card {
namespace {

class DriverChannel : public Channel {
 public:
  DriverChannel(std::shared_ptr<DriverLibrary> lib, const DriverTable* table, const DriverConfig& config)
      : lib_(std::move(lib)), table_(table) {
    if (table_->create(&config, &handle_) != 0) handle_ = 0;
  }
  ~DriverChannel() override {
    if (handle_) table_->destroy(handle_);
  }

  bool exists() const override { return handle_ != 0; }
  int Connect(const std::string& address) override {
    return handle_ ? table_->connect(handle_, address.c_str()) : -1;
  }
  void Disconnect() override {
    if (handle_) table_->disconnect(handle_);
  }
  int Send(const void* data, std::size_t length) override {
    if (!handle_ || length > 0x7FFFFFFF) return -1;
    return table_->send(handle_, data, static_cast<int>(length));
  }
  int Receive(void* buffer, std::size_t capacity, std::size_t* count) override {
    *count = 0;
    if (!handle_) return -1;
    int n = 0;
    int cap = capacity > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(capacity);
    int r = table_->receive(handle_, buffer, cap, &n);
    *count = n > 0 ? static_cast<std::size_t>(n) : 0;
    return r;
  }
  void BeginExchange() override {
    if (handle_) table_->beginExchange(handle_, -1);
  }
  void EndExchange() override {
    if (handle_) table_->endExchange(handle_);
  }

 private:
  std::shared_ptr<DriverLibrary> lib_;
  const DriverTable* table_;
  DrvHandle handle_ = 0;
};

}  // namespace

std::shared_ptr<DriverLibrary> DriverLibrary::Load(const std::string& path) {
  void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) return nullptr;
  auto get = reinterpret_cast<DrvGetFn>(::dlsym(h, "DRV_Get"));
  void* link = nullptr;
  void* search = nullptr;
  if (!get || get(DRV_LINK_TABLE, &link) != 0 || get(DRV_SEARCH_TABLE, &search) != 0 || !link || !search) {
    ::dlclose(h);
    return nullptr;
  }
  std::shared_ptr<DriverLibrary> lib(new DriverLibrary());
  lib->handle_ = h;
  lib->link_ = static_cast<const DriverTable*>(link);
  lib->search_ = static_cast<const DriverTable*>(search);
  return lib;
}

std::shared_ptr<DriverLibrary> DriverLibrary::LoadFromToolDir() {
  return Load(platform::SubsysPath(platform::DriverFileName()));
}

DriverLibrary::~DriverLibrary() {
  if (handle_) ::dlclose(handle_);
}

std::unique_ptr<Channel> DriverLibrary::CreateLink(int port, const std::string& addressText) {
  DriverConfig config;
  std::memset(&config, 0, sizeof config);
  config.port = port;
  std::strncpy(config.u.linkAddress, addressText.c_str(), sizeof config.u.linkAddress - 1);
  return std::make_unique<DriverChannel>(shared_from_this(), link_, config);
}

std::unique_ptr<Channel> DriverLibrary::CreateSearch(int port, int replyPort, const std::string& broadcast) {
  DriverConfig config;
  std::memset(&config, 0, sizeof config);
  config.port = port;
  config.u.search.port2 = replyPort;
  std::strncpy(config.u.search.address, broadcast.c_str(), sizeof config.u.search.address - 1);
  return std::make_unique<DriverChannel>(shared_from_this(), search_, config);
}

}  // namespace card
