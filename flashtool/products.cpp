#include "flashtool/products.h"

#include <array>

#include "wire/boot_memory_map.h"
#include "wire/boot_protocol.h"

namespace hx::flash {

namespace {
using boot::kConfigBase;

const std::vector<Product>& Table() {
  static const std::vector<Product> table = {
      {"PAXTER", {{kConfigBase + 2, 0x0D}, {kConfigBase + 3, 0x0F}}, false, false, "ARVEL"},
      {"ARVEL5-12", {{kConfigBase + 2, 0x01}, {kConfigBase + 3, 0x0F}}, false, false, ""},
      {"ARVEL", {{kConfigBase + 2, 0x03}, {kConfigBase + 3, 0x0F}}, false, false, ""},
      {"ARVEL12-24", {{kConfigBase + 2, 0x07}, {kConfigBase + 3, 0x0F}}, false, false, ""},
      {"MERVO", {{kConfigBase + 2, 0x1F}, {kConfigBase + 3, 0x0F}, {kConfigBase + 5, 0x83}}, true, false, ""},
      {"HOSPER", {{kConfigBase + 2, 0x19}, {kConfigBase + 3, 0x0F}}, false, false, ""},
      {"DUNIX", {{kConfigBase + 2, 0x1F}, {kConfigBase + 3, 0x0F}}, false, true, ""},
  };
  return table;
}
}  // namespace

const Product* FindProduct(std::string_view device) {
  for (const auto& p : Table()) {
    if (p.name == device) return &p;
  }
  return nullptr;
}

std::string_view TargetSection(std::string_view device) {
  const Product* p = FindProduct(device);
  if (p && !p->targetSection.empty()) return p->targetSection;
  return device;
}

std::vector<std::string> ProductsIn(const ParameterFile& ini) {
  std::vector<std::string> products;
  for (const auto& section : ini.SectionNames()) {
    long len = 0, val = 0;
    if (!ini.ReadIni(TargetSection(section), "TARGET").empty() &&
        ParseInteger(ini.ReadIni(section, "CMDLEN"), 1, boot::kBootCommandBufferSize, len) &&
        ParseInteger(ini.ReadIni(section, "CMDVAL"), -32768, 65535, val)) {
      products.push_back(section);
    }
  }
  return products;
}

}  // namespace hx::flash
