#include "config/report.h"

#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "clients/protocol.h"
#include "common/json_text.h"

namespace {

// The texts of the report, in member order; each can be cut to make room.
enum TextSlot {
  kRcMode,
  kRc2Mode,
  kRcMap,
  kApSsid,
  kApPsk,
  kApCountry,
  kLanSsid,
  kLanPsk,
  kVersion,
  kTextSlots
};

std::string_view FieldText(const char* field, size_t size) {
  return std::string_view(field, strnlen(field, size));
}
#define VB_TEXT(field) FieldText(field, sizeof(field))

int IfaceSelector(std::string_view iface) {
  if (iface == "wlan0") return 2;
  if (iface == "wifi0") return 1;
  return 0;
}

std::string Number(int value) { return std::to_string(value); }

std::string InterfaceObject(const InterfaceAddress& entry) {
  std::string object = "{\"name\":\"";
  AppendJsonEscaped(&object, entry.name);
  object += "\",\"addr\":\"";
  AppendJsonEscaped(&object, entry.addr);
  object += "\"}";
  return object;
}

struct ReportParts {
  std::string_view texts[kTextSlots];
  size_t kept[kTextSlots];
  std::vector<std::string> objects;
  size_t objects_kept;
};

std::string Compose(const SharedConfig& c, const ReportParts& parts) {
  auto text = [&](TextSlot slot) {
    std::string escaped;
    AppendJsonEscaped(&escaped, parts.texts[slot].substr(0, parts.kept[slot]));
    return escaped;
  };
  auto num = [](const char* name, int value) {
    return std::string("\"") + name + "\":" + Number(value) + ",";
  };
  std::string r = "{\"app\":\"cable\",";
  r += num("camtype", c.camera_type);
  r += num("dmode", c.device_mode);
  r += num("cmode", c.cooperative_mode);
  r += num("ctrl_en", c.control_enabled);
  r += num("rcin_en", c.rc_input_enabled);
  r += "\"rcin_mode\":\"" + text(kRcMode) + "\",";
  r += "\"rcin2_mode\":\"" + text(kRc2Mode) + "\",";
  r += "\"rcin_map\":\"" + text(kRcMap) + "\",";
  r += num("rcin_pan", c.rc_input_speed_pan);
  r += num("rcin_tilt", c.rc_input_speed_tilt);
  r += num("rcin_dutch", c.rc_input_speed_dutch);
  r += num("rcin_paninv", c.rc_input_inverse_pan);
  r += num("rcin_tiltinv", c.rc_input_inverse_tilt);
  r += num("rcin_dutchinv", c.rc_input_inverse_dutch);
  r += num("rcin_exp", c.rc_input_exp);
  r += num("rcin_abs", c.rc_input_abs);
  r += num("v_dis", c.disable_video_stream);
  r += num("v_hf", c.video_hflip);
  r += num("v_vf", c.video_vflip);
  r += num("v_f", c.video_fix);
  r += num("hdmistate", c.hdmi_enabled);
  r += num("osdbrdw", c.osd_border_width);
  r += num("osdbrdh", c.osd_border_height);
  r += num("osdtof", c.osd_top_offset);
  r += num("osdbof", c.osd_bottom_offset);
  r += num("osd_en", c.osd_enabled);
  r += num("hud_en", c.hud_enabled);
  r += num("ic_en", c.internal_camera_enabled);
  r += num("ic_fs", c.internal_camera_fullscreen);
  r += num("fa_en", c.focus_assistant_enabled);
  r += num("apstate", c.ap_running);
  r += "\"ap_iface\":\"" + Number(IfaceSelector(VB_TEXT(c.ap_iface))) + "\",";
  r += "\"ap_ssid\":\"" + text(kApSsid) + "\",";
  r += "\"ap_psk\":\"" + text(kApPsk) + "\",";
  r += num("ap_mode", c.ap_mode);
  r += num("ap_channel", c.ap_channel);
  r += "\"ap_country\":\"" + text(kApCountry) + "\",";
  r += "\"lan_iface\":\"" + Number(IfaceSelector(VB_TEXT(c.wifi_iface))) + "\",";
  r += "\"lan_ssid\":\"" + text(kLanSsid) + "\",";
  r += "\"lan_psk\":\"" + text(kLanPsk) + "\",";
  r += "\"cam_iface\":\"\",\"cam_ssid\":\"\",\"cam_psk\":\"\",";
  r += "\"version\":\"" + text(kVersion) + "\",";
  r += "\"ifaces\":[";
  for (size_t i = 0; i < parts.objects_kept; ++i) {
    if (i > 0) r += ",";
    r += parts.objects[i];
  }
  r += "]}";
  return r;
}

size_t EscapedTextsLength(const ReportParts& parts) {
  size_t total = 0;
  for (int i = 0; i < kTextSlots; ++i) {
    total += JsonEscapedLength(parts.texts[i].substr(0, parts.kept[i]));
  }
  return total;
}

// Cuts every text longer than one common length, the largest length at which
// the escaped texts fit in budget: the longest texts lose the most.
void CutLongestTexts(ReportParts* parts, size_t budget) {
  size_t low = 0;
  size_t high = 0;
  for (int i = 0; i < kTextSlots; ++i) high = std::max(high, JsonEscapedLength(parts->texts[i]));
  auto keep_at = [&](size_t level) {
    for (int i = 0; i < kTextSlots; ++i) parts->kept[i] = JsonPrefixFitting(parts->texts[i], level);
  };
  while (low < high) {
    size_t level = low + (high - low + 1) / 2;
    keep_at(level);
    if (EscapedTextsLength(*parts) <= budget) {
      low = level;
    } else {
      high = level - 1;
    }
  }
  keep_at(low);
}

}  // namespace

int FormatConfigReport(const SharedConfig& config, const std::vector<InterfaceAddress>& ifaces,
                       char* out, size_t cap) {
  if (cap == 0) return 0;
  out[0] = '\0';
  size_t limit = std::min(cap - 1, static_cast<size_t>(kMaxDataPayload));

  ReportParts parts{};
  parts.texts[kRcMode] = VB_TEXT(config.rc_input_mode);
  parts.texts[kRc2Mode] = VB_TEXT(config.rc2_input_mode);
  parts.texts[kRcMap] = VB_TEXT(config.rc_input_map);
  parts.texts[kApSsid] = VB_TEXT(config.ap_ssid);
  parts.texts[kApPsk] = VB_TEXT(config.ap_psk);
  parts.texts[kApCountry] = VB_TEXT(config.ap_country);
  parts.texts[kLanSsid] = VB_TEXT(config.wifi_ssid);
  parts.texts[kLanPsk] = VB_TEXT(config.wifi_psk);
  parts.texts[kVersion] = VB_TEXT(config.version_text);
  for (int i = 0; i < kTextSlots; ++i) parts.kept[i] = parts.texts[i].size();
  for (const InterfaceAddress& entry : ifaces) parts.objects.push_back(InterfaceObject(entry));
  parts.objects_kept = parts.objects.size();

  std::string report = Compose(config, parts);
  while (report.size() > limit && parts.objects_kept > 0) {
    --parts.objects_kept;
    report = Compose(config, parts);
  }
  if (report.size() > limit) {
    size_t texts = EscapedTextsLength(parts);
    size_t skeleton = report.size() - texts;
    if (skeleton > limit) return 0;  // no room even for the members
    CutLongestTexts(&parts, limit - skeleton);
    report = Compose(config, parts);
  }
  std::memcpy(out, report.data(), report.size());
  out[report.size()] = '\0';
  return static_cast<int>(report.size());
}

std::vector<InterfaceAddress> ListInterfaceAddresses() {
  std::vector<InterfaceAddress> list;
  ifaddrs* all = nullptr;
  if (getifaddrs(&all) != 0) return list;
  for (ifaddrs* entry = all; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !entry->ifa_name) continue;
    if (std::strcmp(entry->ifa_name, "lo") == 0) continue;
    char host[NI_MAXHOST];
    if (getnameinfo(entry->ifa_addr, sizeof(sockaddr_in), host, sizeof host, nullptr, 0,
                    NI_NUMERICHOST) != 0) {
      continue;
    }
    list.push_back({entry->ifa_name, host});
  }
  freeifaddrs(all);
  return list;
}

void BuildInterfaceList(char* list, size_t cap) {
  if (cap == 0) return;
  size_t used = strnlen(list, cap - 1);
  list[used] = '\0';
  bool first = used == 0;
  for (const InterfaceAddress& entry : ListInterfaceAddresses()) {
    std::string object = (first ? "" : ",") + InterfaceObject(entry);
    if (used + object.size() + 1 > cap) break;
    std::memcpy(list + used, object.data(), object.size() + 1);
    used += object.size();
    first = false;
  }
}

int BuildConfigReport(char* out, size_t cap) {
  return FormatConfigReport(*GetSharedConfig(), ListInterfaceAddresses(), out, cap);
}
