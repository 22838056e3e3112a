#pragma once
// A made-up machine for the volume list and the drive probe: volumes by letter, drives by
// number, and a record of every device the code under test tried to open.

#include <map>
#include <string>
#include <vector>

#include "core/errors.h"
#include "storage/device_queries.h"

namespace quillon::testing {

struct TFakeVolume {
  std::optional<TVolumeInformation> Information;  // nothing: the query fails
  std::optional<TDiskFreeSpace> Space;            // nothing: the query fails
  int DriveType = DriveFixed;
  bool Opens = true;                   // false: no right to open the device
  std::optional<TDiskExtent> Extent;   // nothing: the extents request fails
  std::string DeviceName;
  std::optional<std::int64_t> Length;  // the open device's length; nothing: unknown
};

struct TFakeDrive {
  std::optional<TDiskGeometry> Geometry;
  std::optional<TDiskGeometryEx> GeometryEx;
  std::optional<std::int64_t> Length;
  bool RequestsThrow = false;  // the geometry requests throw, as a failing driver may make them
};

class TFakeDeviceQueries : public IDeviceQueries {
 public:
  std::map<char, TFakeVolume> Volumes;
  std::map<int, TFakeDrive> Drives;
  std::vector<std::string> Opened;  // every device path tried, in order

  std::optional<TVolumeInformation> VolumeInformation(const std::string& root) override {
    const TFakeVolume* v = Find(root);
    return v ? v->Information : std::nullopt;
  }
  std::optional<TDiskFreeSpace> DiskFreeSpace(const std::string& root) override {
    const TFakeVolume* v = Find(root);
    return v ? v->Space : std::nullopt;
  }
  int DriveType(const std::string& root) override {
    const TFakeVolume* v = Find(root);
    return v ? v->DriveType : DriveNoRootDir;
  }
  std::string VolumeDeviceName(const std::string& root) override {
    const TFakeVolume* v = Find(root);
    return v ? v->DeviceName : "";
  }
  bool MayOpenDevices() override { return true; }

  // Device path of the device that holds a file path, by the file path's first characters.
  std::map<std::string, std::string> FileDevices;
  bool FileLiesOnDevice(const std::string& file, const std::string& device) override {
    for (const auto& [prefix, holder] : FileDevices) {
      if (file.rfind(prefix, 0) == 0) return holder == device;
    }
    return false;
  }

  std::unique_ptr<IDevice> OpenDevice(const std::string& path, TOpenMode) override {
    Opened.push_back(path);
    const std::string rest = path.substr(4);
    if (rest.rfind("physicaldrive", 0) == 0) {
      const auto drive = Drives.find(std::stoi(rest.substr(13)));
      if (drive != Drives.end()) return std::make_unique<TDevice>(drive->second, std::nullopt);
    } else if (const TFakeVolume* v = Find(rest); v != nullptr && v->Opens) {
      return std::make_unique<TDevice>(TFakeDrive{{}, {}, v->Length}, v->Extent);
    }
    throw EQuillonError(OpenErrorText(path, "Access is denied."));
  }

 private:
  class TDevice : public IDevice {
   public:
    TDevice(TFakeDrive drive, std::optional<TDiskExtent> extent) : drive_(drive), extent_(extent) {}
    std::optional<TDiskGeometry> DriveGeometry() override {
      if (drive_.RequestsThrow) throw EQuillonError("The request is not supported.");
      return drive_.Geometry;
    }
    std::optional<TDiskGeometryEx> DriveGeometryEx() override {
      if (drive_.RequestsThrow) throw EQuillonError("The request is not supported.");
      return drive_.GeometryEx;
    }
    std::optional<TDiskExtent> FirstDiskExtent() override { return extent_; }
    std::optional<std::int64_t> Length() override { return drive_.Length; }

   private:
    TFakeDrive drive_;
    std::optional<TDiskExtent> extent_;
  };

  const TFakeVolume* Find(const std::string& rootOrName) const {
    const auto v = Volumes.find(rootOrName.empty() ? '?' : rootOrName[0]);
    return v == Volumes.end() ? nullptr : &v->second;
  }
};

inline TPathConstants WindowPathConstants() {
  return {"physicaldrive", "\\\\.\\", ":", ":\\"};
}

}  // namespace quillon::testing
