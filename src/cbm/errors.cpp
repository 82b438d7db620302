#include "cbm/errors.h"

#include <array>
#include <utility>

#include "common/format.h"

namespace kelvane {

std::string DkD64VariantName(TDkD64DosVariant variant) {
  static constexpr std::array<const char*, 5> kNames = {"Standard35", "SpeedDOS40", "Dolphin40",
                                                        "Prologic40", "Extended42"};
  const int index = static_cast<int>(variant);
  if (index < 0 || index >= static_cast<int>(kNames.size())) return "?";
  return kNames[static_cast<std::size_t>(index)];
}

namespace {

std::string AmbiguityMessage(const TDkD64DosVariantArray& matches) {
  std::string names;
  for (const TDkD64DosVariant variant : matches) {
    if (!names.empty()) names += ", ";
    names += DkD64VariantName(variant);
  }
  return Format("Multiple D64 DOS variants match this image: %s.", names.c_str());
}

}  // namespace

EDkAmbiguousD64Variant::EDkAmbiguousD64Variant(TDkD64DosVariantArray matches)
    : Exception(AmbiguityMessage(matches)), matches_(std::move(matches)) {}

}  // namespace kelvane
