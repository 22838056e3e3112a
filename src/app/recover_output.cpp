#include "app/recover_output.h"

#include <filesystem>
#include <fstream>
#include <vector>

#include "storage/utf8_paths.h"
#include "core/errors.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

// A manifest line names a file below OUTDIR: relative, without "..".
bool IsInside(const fs::path& relative) {
  if (relative.empty() || relative.is_absolute() || relative.has_root_name()) return false;
  for (const fs::path& part : relative) {
    if (part == "..") return false;
  }
  return true;
}

// Removes what the manifest lists, then the folders it leaves empty, then the manifest.
std::string RemoveEarlierRecovery(const fs::path& dir, const fs::path& manifest) {
  std::ifstream in(manifest, std::ios::binary);
  std::string line;
  if (!std::getline(in, line) || line != kRecoverManifestFirstLine) {
    return "The folder \"" + Utf8Of(dir) + "\" holds a \"" + kRecoverManifestName +
           "\" that recover did not write; it is left as it is. Choose a new or empty folder.";
  }
  std::vector<fs::path> files;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    const fs::path relative = PathFromUtf8(line).lexically_normal();
    if (!IsInside(relative)) {
      return "The manifest \"" + Utf8Of(manifest) + "\" names \"" + line +
             "\", which lies outside the folder; nothing was removed.";
    }
    files.push_back(relative);
  }
  in.close();
  for (const fs::path& relative : files) {
    std::error_code ec;
    fs::remove(dir / relative, ec);
    if (ec) return "Cannot remove \"" + Utf8Of(dir / relative) + "\": " + ec.message() + ".";
    // Folders recover made for its files go when they are empty.
    for (fs::path parent = relative.parent_path(); !parent.empty(); parent = parent.parent_path()) {
      if (!fs::is_empty(dir / parent, ec) || ec) break;
      fs::remove(dir / parent, ec);
    }
  }
  std::error_code ec;
  fs::remove(manifest, ec);
  if (ec) return "Cannot remove \"" + Utf8Of(manifest) + "\": " + ec.message() + ".";
  return {};
}

}  // namespace

std::string PrepareRecoverDirectory(const std::string& utf8Dir, bool force) {
  const fs::path dir = PathFromUtf8(utf8Dir);
  const std::string named = "The output folder \"" + utf8Dir + "\"";
  std::error_code ec;
  const fs::file_status status = fs::status(dir, ec);
  if (!fs::exists(status)) {
    fs::create_directories(dir, ec);
    if (ec) return "Cannot create the output folder \"" + utf8Dir + "\": " + ec.message() + ".";
    return {};
  }
  if (!fs::is_directory(status)) return named + " exists and is not a folder.";
  if (fs::is_empty(dir, ec)) return {};
  if (ec) return "Cannot read the output folder \"" + utf8Dir + "\": " + ec.message() + ".";
  const fs::path manifest = dir / kRecoverManifestName;
  if (!fs::exists(manifest, ec)) {
    return named + " is not empty and holds no earlier recovery: recover writes only into a "
           "new or empty folder, and --force replaces only what recover wrote. Choose another "
           "folder.";
  }
  if (!force) {
    return named + " holds an earlier recovery. Choose another folder, or add --force to "
           "replace what recover wrote there.";
  }
  return RemoveEarlierRecovery(dir, manifest);
}

TRecoverOutputs::TRecoverOutputs(IFileSystem& inner, std::string systemDir)
    : inner_(inner), dir_(std::move(systemDir)) {
  separator_ = dir_.find('\\') != std::string::npos ? '\\' : '/';
  while (dir_.size() > 1 && dir_.back() == separator_) dir_.pop_back();
}

std::string TRecoverOutputs::PathOf(const std::string& name) const {
  std::string path = dir_ + separator_ + name;
  for (char& c : path) {
    if (c == '/' && separator_ == '\\') c = '\\';
  }
  return path;
}

void TRecoverOutputs::Begin() {
  manifest_ = inner_.Open(PathOf(kRecoverManifestName), TOpenMode::CreateExclusive);
  const std::string first = std::string(kRecoverManifestFirstLine) + "\n";
  if (manifest_->Write(first.data(), first.size()) != first.size() || !manifest_->Flush()) {
    throw EQuillonError("Cannot write the manifest \"" +
                        inner_.ToDisplayText(PathOf(kRecoverManifestName)) + "\".");
  }
}

void TRecoverOutputs::List(const std::string& relativeUtf8) {
  const std::string line = relativeUtf8 + "\n";
  if (manifest_->Write(line.data(), line.size()) != line.size() || !manifest_->Flush()) {
    throw EQuillonError("Cannot write the manifest \"" +
                        inner_.ToDisplayText(PathOf(kRecoverManifestName)) + "\".");
  }
}

std::string TRecoverOutputs::RelativeInside(const std::string& path) const {
  // Where OUTDIR is a Windows path the decoding still joins names with '/': both count.
  const bool under = path.size() > dir_.size() && path.compare(0, dir_.size(), dir_) == 0 &&
                     (path[dir_.size()] == separator_ || path[dir_.size()] == '/');
  std::string relative = under ? path.substr(dir_.size() + 1) : std::string();
  for (char& c : relative) {
    if (c == '\\') c = '/';
  }
  if (relative.empty() || !IsInside(PathFromUtf8(relative).lexically_normal()) ||
      relative == kRecoverManifestName) {
    throw EQuillonError("Cannot create file \"" + inner_.ToDisplayText(path) +
                        "\". recover writes only inside its output folder \"" +
                        inner_.ToDisplayText(dir_) + "\".");
  }
  return relative;
}

std::unique_ptr<TStream> TRecoverOutputs::Open(const std::string& path, TOpenMode mode) {
  if (mode != TOpenMode::CreateExclusive && mode != TOpenMode::CreateNew) {
    return inner_.Open(path, mode);
  }
  List(inner_.ToDisplayText(RelativeInside(path)));
  return inner_.Open(path, mode);
}

void TRecoverOutputs::Replace(const std::string& from, const std::string& to) {
  List(inner_.ToDisplayText(RelativeInside(to)));
  inner_.Replace(from, to);
}

void TRecoverOutputs::CreateFolder(const std::string& path) {
  RelativeInside(path);
  inner_.CreateFolder(path);
}

}  // namespace quillon
