#include "config/report.h"

#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "common/json_text.h"
#include "common/wire.h"
#include "records/config_schema.h"
#include "records/param_schema.h"
#include "records/viewer_protocol.h"

namespace {

std::string_view FieldText(const SharedConfig& config, const ConfigSetting& setting) {
  const char* field = reinterpret_cast<const char*>(&config) + setting.offset;
  return std::string_view(field, strnlen(field, setting.size));
}

int FieldNumber(const SharedConfig& config, const ConfigSetting& setting) {
  const uint8_t* field = reinterpret_cast<const uint8_t*>(&config) + setting.offset;
  return setting.size == 1 ? *field : static_cast<int32_t>(GetU32(field));
}

bool IsReportedAsText(const ConfigSetting& setting) {
  return IsTextRule(setting.rule) && setting.rule != ConfigRule::kInterface;
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

// The report's texts, one per text member in member order; each can be cut to make room.
struct ReportParts {
  std::vector<std::string_view> texts;
  std::vector<size_t> kept;
  std::vector<std::string> objects;
  size_t objects_kept;
};

std::string Compose(const SharedConfig& c, const ReportParts& parts) {
  std::string r = "{\"app\":\"cable\",";
  size_t slot = 0;
  for (const ConfigSetting* member : kConfigReportOrder) {
    r += "\"";
    r += member->report.key;
    r += "\":";
    if (IsReportedAsText(*member)) {
      r += "\"";
      AppendJsonEscaped(&r, parts.texts[slot].substr(0, parts.kept[slot]));
      r += "\"";
      ++slot;
    } else if (member->rule == ConfigRule::kInterface) {
      // Appended piece by piece: g++ 12 at -O3 mistakes a prefixing insert
      // for an overlapping copy (-Wrestrict).
      r += "\"";
      r += InterfaceSelectorOf(FieldText(c, *member));
      r += "\"";
    } else {
      r += Number(FieldNumber(c, *member));
    }
    r += ",";
  }
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
  for (size_t i = 0; i < parts.texts.size(); ++i) {
    total += JsonEscapedLength(parts.texts[i].substr(0, parts.kept[i]));
  }
  return total;
}

// Cuts every text longer than one common length, the largest length at which
// the escaped texts fit in budget: the longest texts lose the most.
void CutLongestTexts(ReportParts* parts, size_t budget) {
  size_t low = 0;
  size_t high = 0;
  for (std::string_view text : parts->texts) high = std::max(high, JsonEscapedLength(text));
  auto keep_at = [&](size_t level) {
    for (size_t i = 0; i < parts->texts.size(); ++i) {
      parts->kept[i] = JsonPrefixFitting(parts->texts[i], level);
    }
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
  for (const ConfigSetting* member : kConfigReportOrder) {
    if (IsReportedAsText(*member)) parts.texts.push_back(FieldText(config, *member));
  }
  for (std::string_view text : parts.texts) parts.kept.push_back(text.size());
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

int BuildConfigReport(char* out, size_t cap) {
  return FormatConfigReport(SnapshotSharedConfig(), ListInterfaceAddresses(), out, cap);
}
