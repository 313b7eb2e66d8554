#include "wire/identity.h"

namespace hx {

std::array<std::uint8_t, 12> FrameIdentity() { return {0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}; }

std::string NomAppareil(int code) {
  switch (code) {
    case 1:
      return "Mervo";
    case 2:
      return "Arvel L1";
    case 3:
      return "Arvel L2";
    case 4:
      return "Belmo";
    case 5:
      return "Corvat";
    case 6:
      return "Dunix";
    case 7:
      return "Dunix PB";
    case 8:
      return "Elvar";
    case 9:
      return "Elvar PB";
    case 10:
      return "Fenrik";
    case 11:
      return "Hydrix";
    case 12:
      return "Galto";
    case 13:
      return "Hosper";
    case 14:
      return "";
    case 15:
      return "Arvel5-12";
    case 16:
      return "Arvel12-24";
    case 18:
      return "Kestu";
    case 19:
    case 20:
      return "Mervo 33";
    case 23:
      return "Nuvat";
    case 24:
      return "Dunix-34";
    default:
      return "Generic Ostrel";
  }
}

std::string IdentityText(std::span<const std::uint8_t> a) {
  auto at = [&a](std::size_t i) -> int { return i < a.size() ? a[i] : 0; };
  const int type = at(2);
  return NomAppareil(type) + " (" + std::to_string(type) + ") " + std::to_string(at(1)) + "." +
         std::to_string(at(4)) + std::to_string(at(3));
}

}  // namespace hx
