#include "cli/recover_resume.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "cli/scan_resume.h"
#include "core/errors.h"
#include "core/replacing_file.h"
#include "core/scan_state.h"
#include "recover/page_map_state.h"

namespace quillon {
namespace {

constexpr const char* kMapInterruptedName = "fragments.pagemap.interrupted";

// The whole of a small file, or nothing when it is missing, unreadable or larger than limit.
std::optional<std::string> ReadSmallFile(IFileSystem& fileSystem, const std::string& path,
                                         std::size_t limit) {
  if (fileSystem.Facts(path).Kind != TPathKind::File) return std::nullopt;
  std::unique_ptr<TStream> file;
  try {
    file = fileSystem.Open(path, TOpenMode::ReadShared);
  } catch (const EQuillonError&) {
    return std::nullopt;
  }
  std::string text;
  char piece[65536];
  for (std::size_t got; (got = file->Read(piece, sizeof piece)) > 0;) {
    text.append(piece, got);
    if (text.size() > limit) return std::nullopt;
  }
  return text;
}

// What the interrupted run's manifest lists ('/' between folders), or nothing when the
// manifest is not recover's.
std::optional<std::vector<std::string>> ListedIn(IFileSystem& fileSystem,
                                                 const std::string& manifest) {
  const std::optional<std::string> text = ReadSmallFile(fileSystem, manifest, 64 << 20);
  if (!text) return std::nullopt;
  std::vector<std::string> listed;
  std::size_t from = 0;
  bool first = true;
  while (from < text->size()) {
    std::size_t end = text->find('\n', from);
    if (end == std::string::npos) end = text->size();
    const std::string line = text->substr(from, end - from);
    from = end + 1;
    if (first) {
      if (line != kRecoverManifestFirstLine) return std::nullopt;
      first = false;
    } else if (!line.empty()) {
      const std::optional<std::string> system = fileSystem.FromDisplayText(line);
      if (system) {
        std::string relative = *system;
        std::replace(relative.begin(), relative.end(), '\\', '/');
        listed.push_back(relative);
      }
    }
  }
  if (first) return std::nullopt;
  return listed;
}

// The files and folders below relative in the staging folder that the interrupted run's
// decoding wrote (every file listed), innermost last; throws naming the first that is not.
void CollectDecoded(IFileSystem& fileSystem, const TRecoverFolder& folder,
                    const std::vector<std::string>& listed, const std::string& relative,
                    TPathKind kind, bool isLink, std::vector<std::pair<std::string, bool>>& out) {
  const std::string staging = folder.StagingDir();
  const auto foreign = [&] {
    throw EQuillonError("Cannot resume: \"" +
                        fileSystem.ToDisplayText(folder.Join(staging, relative)) +
                        "\" was not written by the interrupted recover, so its folder \"" +
                        fileSystem.ToDisplayText(staging) +
                        "\" is not taken over. Move or delete it, then resume again.");
  };
  if (!isLink && kind == TPathKind::Directory) {
    const auto entries = fileSystem.ListFolder(folder.Join(staging, relative));
    if (!entries) foreign();
    for (const TFolderEntry& entry : *entries) {
      CollectDecoded(fileSystem, folder, listed, relative + "/" + entry.Name, entry.Kind,
                     entry.IsLink, out);
    }
    out.emplace_back(relative, true);
    return;
  }
  if (isLink || kind != TPathKind::File ||
      std::find(listed.begin(), listed.end(), relative) == listed.end()) {
    foreign();
  }
  out.emplace_back(relative, false);
}

}  // namespace

TRecoverStagingFiles RecoverStagingFiles(const TRecoverFolder& folder) {
  const std::string staging = folder.StagingDir();
  const std::string fragments = folder.Join(staging, kRecoverFragmentFileName);
  const std::string map = folder.Join(staging, kRecoverPageMapFileName);
  return {fragments, map, folder.Join(staging, kMapInterruptedName),
          map + recover::kPageMapStateSuffix, ScanStatePathFor(fragments)};
}

TPageMapContinuation PrepareRecoverResume(IFileSystem& fileSystem, const TRecoverFolder& folder,
                                          TRecoverRestartKeeper& keeper,
                                          const std::string& sourcePath, std::int64_t sourceSize,
                                          const std::string& shownSource) {
  const auto shown = [&](const std::string& path) { return fileSystem.ToDisplayText(path); };
  const std::string staging = folder.StagingDir();
  const TRecoverStagingFiles files = RecoverStagingFiles(folder);
  if (fileSystem.Facts(staging).Kind != TPathKind::Directory ||
      fileSystem.Facts(files.ScanState).Kind == TPathKind::Missing) {
    throw EQuillonError("Cannot resume: the output folder \"" + shown(folder.Dir()) +
                        "\" holds no interrupted recover (there is no \"" +
                        shown(files.ScanState) + "\", which a recover keeps while it reads its "
                        "source). Start the recover without --resume.");
  }
  const std::string manifest = folder.Join(staging, kRecoverManifestName);
  const std::optional<std::vector<std::string>> listed = ListedIn(fileSystem, manifest);
  if (!listed) {
    throw EQuillonError("Cannot resume: \"" + shown(manifest) + "\" is missing or was not "
                        "written by recover, so the folder \"" + shown(staging) +
                        "\" is not taken over. Move or delete it, then start the recover over.");
  }

  // The two states, and the page map's point that goes with the scan's.
  const std::optional<std::string> scanText =
      ReadSmallFile(fileSystem, files.ScanState, kMaxScanStateBytes);
  std::string problem = "it cannot be read";
  const std::optional<TScanState> scanState =
      scanText ? ParseScanState(*scanText, &problem) : std::nullopt;
  if (!scanState) {
    throw EQuillonError("Cannot resume from the reading's state \"" + shown(files.ScanState) +
                        "\": " + problem + ". Start the recover over without --resume (delete "
                        "\"" + shown(staging) + "\" first).");
  }
  const std::optional<std::string> mapText =
      ReadSmallFile(fileSystem, files.MapState, recover::kMaxPageMapStateBytes);
  problem = "it is missing or cannot be read";
  const auto points =
      mapText ? recover::ParsePageMapState(*mapText, &problem) : std::nullopt;
  const std::optional<recover::TPageMapRestartPoint> point =
      points ? recover::PointAt(*points, scanState->Restart.SourceOffset) : std::nullopt;
  if (!points || !point ||
      point->Fragments != static_cast<std::uint64_t>(scanState->Restart.Fragments)) {
    if (points) problem = "it holds no restart point that agrees with the scan state";
    throw EQuillonError("Cannot resume from the page map state \"" + shown(files.MapState) +
                        "\": " + problem + ". Start the recover over without --resume (delete "
                        "\"" + shown(staging) + "\" first).");
  }

  // The map that holds the point: the newest first. The other one may only be a copy that
  // stopped short.
  std::string earlierMap;
  for (const std::string& candidate : {files.Map, files.MapInterrupted}) {
    if (BeginsWith(fileSystem, candidate, static_cast<std::int64_t>(point->Bytes),
                   point->FileCrc32)) {
      earlierMap = candidate;
      break;
    }
  }
  if (earlierMap.empty()) {
    throw EQuillonError("Cannot resume: neither \"" + shown(files.Map) + "\" nor \"" +
                        shown(files.MapInterrupted) + "\" holds the " +
                        std::to_string(point->Bytes) + " bytes that the page map state \"" +
                        shown(files.MapState) + "\" describes (they were moved, changed or "
                        "removed). Start the recover over without --resume (delete \"" +
                        shown(staging) + "\" first).");
  }
  const std::string otherMap = earlierMap == files.Map ? files.MapInterrupted : files.Map;
  if (fileSystem.Facts(otherMap).Kind != TPathKind::Missing &&
      !AgreesWith(fileSystem, otherMap, earlierMap, static_cast<std::int64_t>(point->Bytes))) {
    throw EQuillonError("Cannot resume: \"" + shown(otherMap) + "\" exists and is not the "
                        "interrupted recover's page map (another recover may be writing it "
                        "right now). Move or delete it, then resume again.");
  }

  // Whatever else is in the staging folder: the reading's own files by their names, and
  // what the decoding wrote (listed in the manifest), which goes.
  const std::vector<std::string> reading = {
      kRecoverManifestName, kRecoverManifestFresh, kRecoverFragmentFileName,
      std::string(kRecoverFragmentFileName) + kPartialSuffix,
      std::string(kRecoverFragmentFileName) + kInterruptedSuffix,
      std::string(kRecoverResumableMark), std::string(kRecoverResumableMark) + ".new",
      kRecoverPageMapFileName, kMapInterruptedName,
      std::string(kRecoverPageMapFileName) + recover::kPageMapStateSuffix,
      std::string(kRecoverPageMapFileName) + recover::kPageMapStateSuffix + ".new"};
  const auto entries = fileSystem.ListFolder(staging);
  if (!entries) throw EQuillonError("Cannot read \"" + shown(staging) + "\".");
  std::vector<std::pair<std::string, bool>> decoded;
  for (const TFolderEntry& entry : *entries) {
    if (std::find(reading.begin(), reading.end(), entry.Name) != reading.end()) continue;
    CollectDecoded(fileSystem, folder, *listed, entry.Name, entry.Kind, entry.IsLink, decoded);
  }

  // The fragment file's checks (the same source above all) come last of the checks; from
  // there on files are set aside and removed.
  PrepareResume(fileSystem, keeper, files.Fragments, sourcePath, sourceSize, shownSource,
                {"recover", "reading's state",
                 "Start the recover over without --resume (delete \"" + shown(staging) +
                     "\" first)"});
  if (fileSystem.Facts(otherMap).Kind != TPathKind::Missing && !fileSystem.Remove(otherMap)) {
    throw EQuillonError("Cannot remove \"" + shown(otherMap) + "\", left by an earlier attempt "
                        "to resume; move or delete it, then resume again.");
  }
  if (earlierMap == files.Map) fileSystem.MoveNew(files.Map, files.MapInterrupted);
  for (const auto& [relative, isFolder] : decoded) {
    fileSystem.RemoveBelow(staging, relative, isFolder);
  }
  keeper.ContinueMapFrom(*point);
  return {folder.Join(folder.Dir(), kMapInterruptedName), *point};
}

bool TidyRecoverStaging(IFileSystem& fileSystem, const TRecoverFolder& folder) {
  const TRecoverStagingFiles files = RecoverStagingFiles(folder);
  bool ok = true;
  for (const std::string& path :
       {files.Fragments + kInterruptedSuffix, files.MapInterrupted, files.ScanState,
        files.ScanState + ".new", files.MapState, files.MapState + ".new"}) {
    if (fileSystem.Facts(path).Kind != TPathKind::Missing) ok = fileSystem.Remove(path) && ok;
  }
  return ok;
}

}  // namespace quillon
