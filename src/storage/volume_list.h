#pragma once
// TNTVolumeList: the volumes with drive letters C to Z that the source menu offers, each
// with its caption line and its letter.

#include <cstdint>
#include <string>
#include <vector>

#include "core/source_path.h"
#include "storage/device_queries.h"
#include "storage/volume_info.h"

namespace quillon {

// One kept volume.
struct VolumeItem {
  std::string Letter;
  std::string VolumeLabel;
  std::string DiskId;  // DriveTypeCode followed by the disk number: HD0, RD1, CD255
  std::string DriveTypeCode;
  std::string FileSystemName;
  std::string SerialNumber;
  std::int64_t TotalBytes = 0;
  std::int64_t FreeBytes = 0;
  bool Present = false;
  // Beyond the menu: what a front end may show or size a chosen volume by.
  std::string DeviceName;  // shown in the label's place when the volume has no label
  TDiskExtent Extent;
};

class TNTVolumeList {
 public:
  // Examines the letters C to Z at once; the list is not refreshed afterwards.
  TNTVolumeList(IDeviceQueries& queries, const TPathConstants& constants);
  virtual ~TNTVolumeList() = default;

  int Count() const { return static_cast<int>(Captions.size()); }

  VolumeItem Item;                    // after construction: the last kept volume
  std::vector<std::string> Captions;  // one menu caption per kept volume, in letter order
  std::vector<std::string> Letters;   // the letter of each kept volume, same index
  std::vector<VolumeItem> Items;      // every kept volume, same index

 private:
  void Enumerate();

  IDeviceQueries& queries_;
  TPathConstants constants_;
};

// The menu caption of a kept volume: "System (C:), HD0, NTFS, [20.55 GB/99.90 GB]".
std::string VolumeCaption(const VolumeItem& item);

// A volume size for the captions: GB from 1 MiB up, MB below, two decimals, with the
// decimal separator of the user's locale (as set by setlocale(LC_NUMERIC, "")).
std::string VolumeSizeText(double bytes);
// The same with the given decimal separator.
std::string VolumeSizeText(double bytes, const std::string& decimalSeparator);

}  // namespace quillon
