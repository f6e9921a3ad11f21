#include "support/main_fixture.h"

#include <cstdlib>
#include <ctime>

#include "link/record.h"
#include "params/panel.h"
#include "platform/ini.h"

namespace testing_support {

void UseUtc() {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
}

std::vector<std::string> FieldLinesOf(const std::vector<std::string>& sent) {
  std::vector<std::string> out;
  auto isAnnouncement = [](const std::string& line) { return line.rfind("set Sys_Crc ", 0) == 0; };
  for (std::size_t i = 0; i < sent.size(); ++i) {
    if (isAnnouncement(sent[i])) continue;
    if (sent[i].rfind("set ", 0) == 0 && sent[i].rfind("set time ", 0) != 0) {
      EXPECT_TRUE(i > 0 && isAnnouncement(sent[i - 1])) << "no announcement before " << sent[i];
    }
    out.push_back(sent[i]);
  }
  return out;
}

MainFixture::MainFixture() {
  UseUtc();
  search.setDatagrams(true);
  search.Connect("192.168.1.5");
  search.clearEvents();
  state.setLocalAddress("192.168.1.5");
}

card::DeviceStatusRecord CardRecord(const std::string& address, int firmwareMajor, int macTail) {
  namespace rec = card::rec;
  card::DeviceStatusRecord r;
  r.setU16(rec::kCodeWord, 0x8111);
  r.setU16(rec::kWidth, 128);
  r.setU16(rec::kHeight, 64);
  r.setU8(rec::kDisplayMode, 0);
  r.setU8(rec::kRefreshRate, 5);
  r.setU8(rec::kBrightness, 20);
  r.setU16(rec::kModbusAddress, 1);
  r.setU16(rec::kBaudRate, 9600);
  r.setU8(rec::kOePolarity, 0);
  r.setU8(rec::kDataPolarity, 0);
  r.setU16(rec::kFirmware, static_cast<std::uint16_t>(firmwareMajor));
  r.setU16(rec::kFirmware + 2, 1);
  r.setU16(rec::kFirmware + 4, 7);
  const int mac[6] = {0x02, 0x4B, 0x56, 0x00, 0x01, macTail};
  for (int i = 0; i < 6; ++i) r.setU16(rec::kMac + 2 * static_cast<std::size_t>(i), static_cast<std::uint16_t>(mac[i]));
  int a = 0, b = 0, c = 0, d = 0;
  std::sscanf(address.c_str(), "%d.%d.%d.%d", &a, &b, &c, &d);
  const int octets[4] = {a, b, c, d};
  for (int i = 0; i < 4; ++i) r.setU8(rec::kCardAddress + static_cast<std::size_t>(i), static_cast<std::uint8_t>(octets[i]));
  const int server[4] = {192, 168, 1, 2};
  for (int i = 0; i < 4; ++i) r.setU8(rec::kServerAddress + static_cast<std::size_t>(i), static_cast<std::uint8_t>(server[i]));
  r.setU16(rec::kServerPort, 8080);
  r.setU8(rec::kIpMode, 0);
  r.setSerialBytes("2023000000000000000000" + std::to_string(10 + macTail % 90));
  r.updateChecksum();
  return r;
}

std::string Bytes(const card::DeviceStatusRecord& r) {
  return std::string(reinterpret_cast<const char*>(r.data()), card::rec::kSize);
}

void MainFixture::OpenWith(const card::DeviceStatusRecord& r) {
  state.setRecord(r);
  state.setSelectedAddress(card::AddressText(r));
  state.setPanelRecordFrom(card::AddressText(r));
  std::vector<std::string> messages;
  panel.values = card::FilledPanel(r, panel.values, card::FillVariant::Direct, &messages);
}

std::string MainFixture::ini(const std::string& section, const std::string& key) const {
  return platform::ReadIniKey(cfg.path(), section, key, "<none>", 260);
}

}  // namespace testing_support
