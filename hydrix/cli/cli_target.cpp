#include "hydrix/cli/cli_target.h"

#include <algorithm>
#include <ostream>
#include <string>

namespace hx {

namespace {

bool Has(const std::vector<std::int32_t>& ids, std::int32_t id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

}  // namespace

CliTarget ResolveTarget(const DeviceList& list, std::optional<std::int32_t> given, UsbInterface& usb,
                        std::ostream& err) {
  if (given) {
    if (Has(list.ids, *given) || Has(list.silent, *given)) return {given, 0};
    std::string attached;
    for (const auto* ids : {&list.ids, &list.silent}) {
      for (std::int32_t id : *ids) attached += (attached.empty() ? "" : ", ") + std::to_string(id);
    }
    err << "hydrixctl: no controller " << *given << "; attached: " << (attached.empty() ? "none" : attached)
        << "\n";
    return {std::nullopt, 1};
  }
  if (list.ids.size() == 1) return {list.ids.front(), 0};
  if (list.ids.empty()) {
    const std::string problem = usb.BackendProblem();
    err << "hydrixctl: " << (problem.empty() ? "no controller answered" : problem) << "\n";
    return {std::nullopt, 1};
  }
  // As firmware tools do when more than one device matches: name them all
  // and act on none.
  err << "hydrixctl: " << list.ids.size()
      << " controllers answer; name one with --id N (nothing was done):\n";
  for (std::size_t i = 0; i < list.ids.size(); ++i) {
    err << "  --id " << list.ids[i] << "\t" << list.texts[i];
    if (i < list.serials.size() && list.serials[i]) err << "\tserial " << *list.serials[i];
    err << "\n";
  }
  return {std::nullopt, 2};
}

}  // namespace hx
