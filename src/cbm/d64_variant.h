#pragma once

#include <string>
#include <vector>

namespace kelvane {

// The DOS variants that lay out a D64's BAM differently. Ordinals are fixed.
enum TDkD64DosVariant : int {
  ddvStandard35 = 0,
  ddvSpeedDOS40 = 1,
  ddvDolphin40 = 2,
  ddvPrologic40 = 3,
  ddvExtended42 = 4,
};

using TDkD64DosVariantArray = std::vector<TDkD64DosVariant>;

// Name used in messages ("Standard35", "SpeedDOS40", ...); "?" outside the enumeration.
std::string DkD64VariantName(TDkD64DosVariant variant);

}  // namespace kelvane
