#include "hydrix/mainscreen/captions.h"

namespace hx {

namespace {
constexpr const char* kCapacityItems[] = {"3,5 Ah \t\t: 1 Hr", "7 to 25 Ah \t: 3 Hrs", "> 25 Ah \t\t: 6 Hrs"};
}  // namespace

const char* FixedCaptionKey(const std::string& control, int index) {
  for (const auto& c : FixedCaptions()) {
    if (control == c.control && index == c.index) return c.key;
  }
  return nullptr;
}

std::span<const char* const> CapacityItems() { return kCapacityItems; }

}  // namespace hx
