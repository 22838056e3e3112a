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
#include "cli/json_output.h"
#include "cli/platform_console.h"
#include "storage/device_queries.h"
#include "storage/drive_probe.h"
#include "storage/file_system.h"
#include "storage/volume_list.h"

namespace quillon {
namespace {

TJson VolumeJson(const VolumeItem& item, const std::string& source, const std::string& caption) {
  TJson json;
  json["kind"] = "volume";
  json["source"] = JsonSafeText(source);
  json["letter"] = JsonSafeText(item.Letter);
  json["caption"] = JsonSafeText(caption);
  json["label"] = JsonSafeText(item.VolumeLabel);
  json["device"] = JsonSafeText(item.DeviceName);
  json["file_system"] = JsonSafeText(item.FileSystemName);
  json["serial_number"] = JsonSafeText(item.SerialNumber);
  json["drive_type"] = JsonSafeText(item.DriveTypeCode);
  json["disk_id"] = JsonSafeText(item.DiskId);
  // 255 is the system's "not found"; JSON says so with null.
  if (item.Extent.DiskNumber == 255) {
    json["disk_number"] = nullptr;
  } else {
    json["disk_number"] = item.Extent.DiskNumber;
  }
  json["free_bytes"] = item.FreeBytes;
  json["total_bytes"] = item.TotalBytes;
  json["extent_offset"] = item.Extent.StartingOffset;
  json["extent_length"] = item.Extent.ExtentLength;
  return json;
}

TJson DriveJson(const TProbedDrive& drive, const std::string& caption) {
  TJson json;
  json["kind"] = "drive";
  json["source"] = JsonSafeText(drive.EntryName);
  json["drive_number"] = drive.Number;
  json["caption"] = JsonSafeText(caption);
  json["media_type"] = JsonSafeText(drive.MediaTypeName);
  json["size_bytes"] = drive.Size;
  return json;
}

}  // namespace

std::string DevicesRefusedText(const std::string& systemText, bool rightsWouldHelp) {
  if (rightsWouldHelp) {
    std::string text =
        "Drives and volumes could not be opened: that needs administrator (root) rights. "
        "Physical drives and volumes without a label are missing from this list; run "
        "quillon-cli as administrator (root) to see them all.";
    if (!systemText.empty()) text += " (" + systemText + ")";
    return text;
  }
  // Administrator rights are there or would not help: the system's own words are the cause.
  return "Drives and volumes could not be opened: " +
         (systemText.empty() ? std::string("the system refused") : systemText) +
         ". Physical drives and volumes without a label are missing from this list; "
         "administrator (root) rights do not lift this refusal (the system's or a "
         "container's device rules).";
}

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
    const IDeviceQueries::TDeviceRefusal refusal = queries->LastDeviceRefusal();
    ConsolePrintf(stderr, "%s\n", DevicesRefusedText(refusal.Text, refusal.RightsWouldHelp).c_str());
  }

  TJson entries = TJson::array();
  const TNTVolumeList volumes(*queries, constants);
  for (int i = 0; i < volumes.Count(); ++i) {
    const std::string source = volumes.Letters[i] + constants.DriveSeparator;
    if (options.Json) {
      entries.push_back(VolumeJson(volumes.Items[i], source, volumes.Captions[i]));
    } else {
      ConsolePrintf(stdout, "%s\t%s\n", source.c_str(), volumes.Captions[i].c_str());
    }
  }
  std::fflush(stdout);
  // Each drive is shown as soon as it has been probed, as the menu adds it.
  ProbeDrives(*queries, constants, [&](const TProbedDrive& drive) {
    if (options.Json) {
      entries.push_back(DriveJson(drive, drive.Caption));
    } else {
      ConsolePrintf(stdout, "%s\t%s\n", drive.EntryName.c_str(), drive.Caption.c_str());
      std::fflush(stdout);
    }
  });
  if (options.Json) ConsolePrintf(stdout, "%s\n", JsonLine(entries).c_str());
  return kExitOk;
}

}  // namespace quillon
