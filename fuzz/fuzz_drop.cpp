// The whole drop write over damaged images of every writable format, on an in-memory file layer.
// The input is laid over a blank image at its system area (as for the opening targets); byte 0
// picks the format, byte 1 the sizes of the dropped files, and the last 40 bytes also form a
// dropped PC64 file. Whatever happens, the drop returns a result, the image is either unchanged
// or holds every file reported written, and no side file stays behind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>

#include "common/text.h"
#include "damaged_image.h"
#include "registry/registry.h"
#include "shell/drop_write.h"
#include "support/disk_builder.h"

using namespace kelvane;
using namespace kelvane::testing;

namespace {

// Files as a map from path to bytes; every operation succeeds as the system's would.
class MemoryHost : public HostFiles {
 public:
  std::map<std::string, Bytes> files;

  HostOpenStatus ReadForWrite(const std::string& path, std::uint64_t max_size,
                              Bytes& bytes) override {
    const auto found = files.find(path);
    if (found == files.end() || found->second.empty() || found->second.size() > max_size)
      return HostOpenStatus::kFailed;
    bytes = found->second;
    return HostOpenStatus::kOk;
  }
  bool ReadDenyWrite(const std::string& path, std::uint64_t max_size, Bytes& bytes) override {
    const auto found = files.find(path);
    if (found == files.end() || found->second.size() > max_size) return false;
    bytes = found->second;
    return true;
  }
  void WriteDurably(const std::string& path, ByteView bytes) override {
    files[path] = Bytes(bytes.begin(), bytes.end());
  }
  std::uint32_t Replace(const std::string& replaced, const std::string& replacement,
                        const std::string& backup) override {
    if (files.count(replaced) == 0 || files.count(replacement) == 0) return 2;
    files[backup] = files[replaced];
    files[replaced] = files[replacement];
    files.erase(replacement);
    return 0;
  }
  std::uint32_t Move(const std::string& from, const std::string& to, bool replace) override {
    if (files.count(from) == 0) return 2;
    if (files.count(to) != 0 && !replace) return 183;
    files[to] = files[from];
    files.erase(from);
    return 0;
  }
  bool Exists(const std::string& path) override { return files.count(path) != 0; }
  bool Remove(const std::string& path) override { return files.erase(path) != 0; }
  bool IsDirectory(const std::string&) override { return false; }
  std::string ErrorText(std::uint32_t code) override { return "error " + std::to_string(code); }
  bool MayPass(std::uint32_t) override { return false; }
  void Wait(unsigned) override {}
};

std::string Upper(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return DkAsciiUpper(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const WritableTarget& target = kWritableTargets[data[0] % 7];
  Bytes image = DamagedImage(target, data, size, 2);

  MemoryHost host;
  const std::string image_path = std::string("/disk/") + target.name;
  host.files[image_path] = image;
  host.files["/in/a.prg"] = PatternBytes(static_cast<std::size_t>(data[1] & 0x0F) * 300, 1);
  host.files["/in/b.seq"] = PatternBytes(static_cast<std::size_t>(data[1] >> 4) * 1000, 2);
  Bytes pc64(size > 40 ? data + size - 40 : data, data + size);
  if (pc64.size() >= 8) std::memcpy(pc64.data(), "C64File", 8);
  host.files["/in/c.p00"] = pc64;

  const TKvDropResult result =
      KvWriteDroppedFiles(image_path, {"/in/a.prg", "/in/b.seq", "/in/c.p00", "/in/a.prg"}, host);
  if (host.files.size() != 4) std::abort();  // a side file was left
  const Bytes& now = host.files[image_path];
  if (result.WrittenCount == 0) {
    if (now != image) std::abort();
    return 0;
  }
  const auto opened = DkOpenImage(now, target.name, false);
  for (const TKvDropFile& file : result.Files) {
    if (!file.Written) continue;
    bool found = false;
    for (const TDkCbmEntry& entry : opened->Entries())
      found |= Upper(entry.Name) == Upper(file.CbmName);
    if (!found) std::abort();
  }
  return 0;
}
