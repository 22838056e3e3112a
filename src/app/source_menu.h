#pragma once
// The entries of pop, the source menu: their names tell SourceItemClick what was chosen,
// their image indexes which icon the window draws beside them.

namespace quillon::source_menu {

inline constexpr const char* kOpenImageName = "Openimage";
// A volume's entry is named by its drive letter and this suffix, for example "Cxx".
inline constexpr const char* kVolumeNameSuffix = "xx";

inline constexpr int kDriveImageIndex = 17;
inline constexpr int kVolumeImageIndex = 18;
inline constexpr int kOpenImageImageIndex = 19;

}  // namespace quillon::source_menu
