#include "storage/volume_list.h"

#include <charconv>
#include <clocale>

namespace quillon {

TNTVolumeList::TNTVolumeList(IDeviceQueries& queries, const TPathConstants& constants)
    : queries_(queries), constants_(constants) {
  Enumerate();
}

void TNTVolumeList::Enumerate() {
  // A and B are never examined: they were the floppy drives.
  for (char letter = 'C'; letter <= 'Z'; ++letter) {
    const TNTVolumeInfo info(std::string(1, letter), queries_, constants_);
    // Listed: a removable or fixed volume whose device opened and reported an extent, or
    // any volume with a label (a labelled CD-ROM or network volume has disk number 255).
    if (info.Extent.DiskNumber == 255 && info.VolumeLabel.empty()) continue;
    Item = VolumeItem{};
    Item.Letter = info.Letter;
    Item.VolumeLabel = info.VolumeLabel;
    Item.DriveTypeCode = info.DriveTypeCode;
    Item.DiskId = info.DriveTypeCode + std::to_string(info.Extent.DiskNumber);
    Item.FileSystemName = info.FileSystemName;
    Item.SerialNumber = info.SerialNumber;
    Item.TotalBytes = info.TotalBytes;
    Item.FreeBytes = info.FreeBytes;
    Item.Present = true;
    Item.DeviceName = queries_.VolumeDeviceName(info.RootPath());
    Item.Extent = info.Extent;
    Letters.push_back(Item.Letter);
    Captions.push_back(VolumeCaption(Item));
    Items.push_back(Item);
  }
}

std::string VolumeCaption(const VolumeItem& item) {
  // Without a label the device name stands in its place, so that a person can tell
  // unlabelled volumes apart; where the system offers none, the caption starts with " (".
  const std::string& label = item.VolumeLabel.empty() ? item.DeviceName : item.VolumeLabel;
  return label + " (" + item.Letter + ":), " + item.DiskId + ", " + item.FileSystemName + ", [" +
         VolumeSizeText(static_cast<double>(item.FreeBytes)) + "/" +
         VolumeSizeText(static_cast<double>(item.TotalBytes)) + "]";
}

std::string VolumeSizeText(double bytes) {
  const std::lconv* conventions = std::localeconv();
  const char* point = conventions != nullptr ? conventions->decimal_point : nullptr;
  return VolumeSizeText(bytes, point != nullptr && *point != '\0' ? point : ".");
}

std::string VolumeSizeText(double bytes, const std::string& decimalSeparator) {
  // From 1 MiB up the size is given in GB, so 1 MiB itself shows as 0.00 GB.
  const bool gigabytes = bytes >= 1048576.0;
  const double value = gigabytes ? bytes / 1024 / 1024 / 1024 : bytes / 1024 / 1024;
  // Formatted without the C locale's help, so that only the separator follows the user.
  char digits[400];  // room for any double in fixed form
  const auto result =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 2);
  std::string text(digits, result.ptr);
  if (const auto point = text.find('.'); point != std::string::npos) {
    text.replace(point, 1, decimalSeparator);
  }
  return text + (gigabytes ? " GB" : " MB");
}

}  // namespace quillon
