// The built-in product table (the configuration bytes each product gets)
// and the products a parameter file offers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "flashtool/parameter_file.h"

namespace hx::flash {

struct ConfigByte {
  std::uint32_t address;
  std::uint8_t value;
};

struct Product {
  std::string_view name;             // DEVICE value, upper case
  std::vector<ConfigByte> config;    // written in this order
  bool forcesOldMode = false;        // never gets the flash marker
  bool stopsAtFirstFailure = false;  // a failed byte skips the rest and records its stage
  std::string_view targetSection;    // section holding TARGET ("" = its own)
};

// The product named `device` (upper case), or nullptr when it is not in the
// table; such a product writes no configuration byte.
const Product* FindProduct(std::string_view device);

// The section whose TARGET key lists the chips `device` may hold.
std::string_view TargetSection(std::string_view device);

// The products the parameter file offers: its sections with a TARGET (the
// product PAXTER takes ARVEL's) and a usable boot command, in file order.
std::vector<std::string> ProductsIn(const ParameterFile& ini);

}  // namespace hx::flash
