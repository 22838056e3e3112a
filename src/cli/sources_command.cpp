// quillon-cli sources: the entries of the window's source menu, volumes first and then
// physical drives, each with the text that quillon-cli scan accepts for it.

#include <clocale>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "cli/commands.h"
#include "cli/console_view.h"
#include "cli/json_text.h"
#include "storage/device_queries.h"
#include "storage/drive_probe.h"
#include "storage/file_system.h"
#include "storage/volume_list.h"

namespace quillon {
namespace {

std::string VolumeJson(const VolumeItem& item, const std::string& source, const std::string& caption) {
  TJsonObject json;
  json.Add("kind", "volume");
  json.Add("source", source);
  json.Add("letter", item.Letter);
  json.Add("caption", caption);
  json.Add("label", item.VolumeLabel);
  json.Add("device", item.DeviceName);
  json.Add("file_system", item.FileSystemName);
  json.Add("serial_number", item.SerialNumber);
  json.Add("drive_type", item.DriveTypeCode);
  json.Add("disk_id", item.DiskId);
  // 255 is the system's "not found"; JSON says so with null.
  json.AddRaw("disk_number", item.Extent.DiskNumber == 255 ? "null" : std::to_string(item.Extent.DiskNumber));
  json.AddNumber("free_bytes", item.FreeBytes);
  json.AddNumber("total_bytes", item.TotalBytes);
  json.AddNumber("extent_offset", item.Extent.StartingOffset);
  json.AddNumber("extent_length", item.Extent.ExtentLength);
  return json.Text();
}

std::string DriveJson(const TProbedDrive& drive, const std::string& caption) {
  TJsonObject json;
  json.Add("kind", "drive");
  json.Add("source", drive.EntryName);
  json.AddNumber("drive_number", drive.Number);
  json.Add("caption", caption);
  json.Add("media_type", drive.MediaTypeName);
  json.AddNumber("size_bytes", drive.Size);
  return json.Text();
}

}  // namespace

int RunSourcesCommand(const TSourcesOptions& options) {
  // The volume sizes show the decimal separator of the user's locale, as the menu does.
  std::setlocale(LC_NUMERIC, "");

  // The path constants are the window's own, so that the entries are the menu's.
  const std::unique_ptr<IFileSystem> fileSystem = MakePlatformFileSystem();
  const std::unique_ptr<IDeviceQueries> queries = MakePlatformDeviceQueries();
  TConsoleView view(true, false);
  TMain main(view, *fileSystem, *queries);
  const TPathConstants constants = main.PathConstants();

  if (!queries->MayOpenDevices()) {
    std::fprintf(stderr,
                 "Drives and volumes could not be opened: that needs administrator (root) "
                 "rights. Physical drives and volumes without a label are missing from this "
                 "list; run quillon-cli as administrator (root) to see them all.\n");
  }

  std::vector<std::string> entries;
  const TNTVolumeList volumes(*queries, constants);
  for (int i = 0; i < volumes.Count(); ++i) {
    const std::string source = volumes.Letters[i] + constants.DriveSeparator;
    if (options.Json) {
      entries.push_back(VolumeJson(volumes.Items[i], source, volumes.Captions[i]));
    } else {
      std::printf("%s\t%s\n", source.c_str(), volumes.Captions[i].c_str());
    }
  }
  std::fflush(stdout);
  // Each drive is shown as soon as it has been probed, as the menu adds it.
  ProbeDrives(*queries, constants, [&](const TProbedDrive& drive) {
    if (options.Json) {
      entries.push_back(DriveJson(drive, drive.Caption));
    } else {
      std::printf("%s\t%s\n", drive.EntryName.c_str(), drive.Caption.c_str());
      std::fflush(stdout);
    }
  });
  if (options.Json) std::printf("%s\n", JsonArray(entries).c_str());
  return kExitOk;
}

}  // namespace quillon
