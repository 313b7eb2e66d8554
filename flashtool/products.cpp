#include "flashtool/products.h"

#include <array>

namespace hx::flash {

namespace {
const std::vector<Product>& Table() {
  static const std::vector<Product> table = {
      {"PAXTER", {{0x300002, 0x0D}, {0x300003, 0x0F}}, false, false, "ARVEL"},
      {"ARVEL5-12", {{0x300002, 0x01}, {0x300003, 0x0F}}, false, false, ""},
      {"ARVEL", {{0x300002, 0x03}, {0x300003, 0x0F}}, false, false, ""},
      {"ARVEL12-24", {{0x300002, 0x07}, {0x300003, 0x0F}}, false, false, ""},
      {"MERVO", {{0x300002, 0x1F}, {0x300003, 0x0F}, {0x300005, 0x83}}, true, false, ""},
      {"HOSPER", {{0x300002, 0x19}, {0x300003, 0x0F}}, false, false, ""},
      {"DUNIX", {{0x300002, 0x1F}, {0x300003, 0x0F}}, false, true, ""},
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

}  // namespace hx::flash
