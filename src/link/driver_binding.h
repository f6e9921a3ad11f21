// Loads the pcomm driver library at run time and makes channels on its
// tables. The library stays loaded as long as any channel made from it lives.
#pragma once

#include <memory>
#include <string>

#include "../../driver/pcomm.h"
#include "link/channel.h"

namespace card {

// Ports and addresses the tool uses.
constexpr int kCommandPort = 1001;
constexpr int kFilePort = 1002;
constexpr int kRecoveryPort = 1000;
constexpr int kSearchPort = 4400;
constexpr int kSearchReplyPort = 8800;
constexpr const char* kSearchBroadcast = "255.255.255.255";

class DriverLibrary : public std::enable_shared_from_this<DriverLibrary> {
 public:
  // Loads the library at path and takes DRV_Get's link and search tables.
  // Null when the library does not load or either table is missing.
  static std::shared_ptr<DriverLibrary> Load(const std::string& path);
  // ToolDir/subsys/pcomm.so.
  static std::shared_ptr<DriverLibrary> LoadFromToolDir();
  ~DriverLibrary();

  // A link handle on port; addressText goes into the configuration as the
  // driver expects it ("%s:%d"), nothing reads it back.
  std::unique_ptr<Channel> CreateLink(int port, const std::string& addressText = {});
  std::unique_ptr<Channel> CreateSearch(int port = kSearchPort, int replyPort = kSearchReplyPort,
                                        const std::string& broadcast = kSearchBroadcast);

 private:
  DriverLibrary() = default;
  void* handle_ = nullptr;
  const DriverTable* link_ = nullptr;
  const DriverTable* search_ = nullptr;
};

}  // namespace card
