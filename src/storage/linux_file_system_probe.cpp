#include "storage/linux_file_system_probe.h"

#include <blkid.h>

#include <cctype>
#include <fstream>

namespace quillon {
namespace {

// A probe that reads only: libblkid opens the node read-only.
class TBlkidProbe {
 public:
  explicit TBlkidProbe(const std::string& node) : probe_(blkid_new_probe_from_filename(node.c_str())) {}
  ~TBlkidProbe() {
    if (probe_ != nullptr) blkid_free_probe(probe_);
  }
  TBlkidProbe(const TBlkidProbe&) = delete;
  TBlkidProbe& operator=(const TBlkidProbe&) = delete;

  bool Opened() const { return probe_ != nullptr; }

  // The file system found, or nothing when none is recognised (or more than one is).
  std::optional<TFileSystemId> Probe() {
    blkid_probe_enable_superblocks(probe_, 1);
    blkid_probe_set_superblocks_flags(probe_,
                                      BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID | BLKID_SUBLKS_TYPE);
    blkid_probe_enable_partitions(probe_, 0);
    if (blkid_do_safeprobe(probe_) != 0) return std::nullopt;
    TFileSystemId id;
    id.Type = Value("TYPE");
    id.Label = Value("LABEL");
    id.Uuid = Value("UUID");
    if (id.Type.empty()) return std::nullopt;
    return id;
  }

 private:
  std::string Value(const char* name) {
    const char* data = nullptr;
    if (blkid_probe_lookup_value(probe_, name, &data, nullptr) != 0 || data == nullptr) return {};
    return data;
  }

  blkid_probe probe_;
};

// Undoes udev's \xHH escapes of a label.
std::string DecodeUdevText(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
      out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::optional<TFileSystemId> ReadUdevDatabase(const std::string& devNumber, const TLinuxRoots& roots) {
  if (devNumber.empty()) return std::nullopt;
  std::ifstream in(roots.Run / "udev" / "data" / ("b" + devNumber));
  if (!in) return std::nullopt;
  TFileSystemId id;
  std::string plainLabel, encodedLabel;
  for (std::string line; std::getline(in, line);) {
    if (!line.starts_with("E:")) continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(2, equals - 2), value = line.substr(equals + 1);
    if (key == "ID_FS_TYPE") id.Type = value;
    else if (key == "ID_FS_LABEL") plainLabel = value;
    else if (key == "ID_FS_LABEL_ENC") encodedLabel = DecodeUdevText(value);
    else if (key == "ID_FS_UUID") id.Uuid = value;
  }
  id.Label = encodedLabel.empty() ? plainLabel : encodedLabel;
  if (id.Type.empty()) return std::nullopt;
  return id;
}

}  // namespace

std::optional<TFileSystemId> ProbeFileSystem(const std::string& node, const std::string& devNumber,
                                             const TLinuxRoots& roots) {
  TBlkidProbe probe(node);
  if (!probe.Opened()) return ReadUdevDatabase(devNumber, roots);
  return probe.Probe();
}

std::uint32_t SerialNumberOfUuid(const std::string& uuid) {
  std::string digits;
  for (const char c : uuid) {
    if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
  }
  if (digits.empty()) return 0;
  if (digits.size() > 8) digits.erase(0, digits.size() - 8);
  return static_cast<std::uint32_t>(std::stoul(digits, nullptr, 16));
}

}  // namespace quillon
