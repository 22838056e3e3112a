#include "app/recover_output.h"

#include <algorithm>
#include <set>

#include "app/run_lock.h"
#include "core/errors.h"

namespace quillon {
namespace {

constexpr std::int64_t kLargestManifest = 64 << 20;  // far beyond any recovery's list
constexpr const char* kNextManifestName = "quillon-recover.manifest.next";

// A relative path ('/' between its parts) that stays below its folder: no root, no drive,
// no empty, "." or ".." part.
bool IsInside(const std::string& relative) {
  if (relative.empty() || relative.find(':') != std::string::npos) return false;
  std::size_t from = 0;
  while (true) {
    const std::size_t slash = relative.find('/', from);
    const std::size_t length = slash == std::string::npos ? slash : slash - from;
    const std::string part = relative.substr(from, length);
    if (part.empty() || part == "." || part == "..") return false;
    if (slash == std::string::npos) return true;
    from = slash + 1;
  }
}

std::string WithSlashes(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

// Whether folder ('/' between its parts, "" for OUTDIR itself) holds one of files.
bool HoldsListed(const std::vector<std::string>& files, const std::string& folder) {
  return std::any_of(files.begin(), files.end(), [&](const std::string& file) {
    return file.size() > folder.size() + 1 && file.compare(0, folder.size(), folder) == 0 &&
           file[folder.size()] == '/';
  });
}

std::string ParentOf(const std::string& relative) {
  const std::size_t slash = relative.rfind('/');
  return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}

}  // namespace

TRecoverFolder::TRecoverFolder(IFileSystem& fileSystem, std::string dir,
                               const TRecoverFolderRules& rules)
    : fileSystem_(fileSystem), dir_(std::move(dir)), resume_(rules.Resume),
      language_(rules.Language) {
  separator_ = dir_.find('\\') != std::string::npos ? '\\' : '/';
  while (dir_.size() > 1 && (dir_.back() == '/' || dir_.back() == '\\')) dir_.pop_back();
  const std::string named = "The output folder \"" + fileSystem_.ToDisplayText(dir_) + "\"";
  const TPathFacts facts = fileSystem_.Facts(dir_);
  if (facts.Kind == TPathKind::Missing) return;
  if (facts.Kind != TPathKind::Directory) {
    throw EQuillonError(named + " exists and is not a folder.");
  }
  // What another run is writing right now is neither checked nor taken over.
  TakeLock(false);
  ReadManifest(named);
  CheckEntries("", named, rules);
  if (hasManifest_ && !rules.Force) {
    throw EQuillonError(named + " holds an earlier recovery. Choose another folder" +
                        (rules.ForceOffered ? ", or add --force to replace what recover wrote "
                                              "there."
                                            : "."));
  }
}

std::string TRecoverFolder::Join(const std::string& folder, const std::string& relative) const {
  std::string path = folder + separator_ + relative;
  if (separator_ == '\\') std::replace(path.begin() + static_cast<std::ptrdiff_t>(folder.size()),
                                       path.end(), '/', '\\');
  return path;
}

void TRecoverFolder::TakeLock(bool required) {
  if (lock_) return;
  const std::string path = Join(dir_, kRecoverLockName);
  const std::string shown = fileSystem_.ToDisplayText(dir_);
  lock_ = required ? LockForRun(fileSystem_, path, shown, language_)
                   : LockForRunWherePossible(fileSystem_, path, shown, language_);
}

void TRecoverFolder::ReadManifest(const std::string& named) {
  hasManifest_ = false;
  listed_.clear();
  const std::optional<std::vector<TFolderEntry>> entries = fileSystem_.ListFolder(dir_);
  if (!entries) throw EQuillonError("Cannot read the output folder \"" +
                                    fileSystem_.ToDisplayText(dir_) + "\".");
  const auto manifest = std::find_if(entries->begin(), entries->end(), [](const TFolderEntry& e) {
    return e.Name == kRecoverManifestName;
  });
  if (manifest == entries->end()) return;
  const std::string path = Join(dir_, kRecoverManifestName);
  const std::string foreign = named + " holds a \"" + kRecoverManifestName +
                              "\" that recover did not write; it is left as it is. Choose a new "
                              "or empty folder.";
  if (manifest->IsLink || manifest->Kind != TPathKind::File) throw EQuillonError(foreign);
  std::string text;
  {
    const std::unique_ptr<TStream> in = fileSystem_.Open(path, TOpenMode::ReadShared);
    const std::int64_t length = in->Length();
    if (length < 0 || length > kLargestManifest) throw EQuillonError(foreign);
    text.resize(static_cast<std::size_t>(length));
    if (in->Read(text.data(), text.size()) != text.size()) {
      throw EQuillonError(OpenErrorText(fileSystem_.ToDisplayText(path), in->LastErrorText()));
    }
  }
  std::size_t from = 0;
  bool first = true;
  while (from < text.size()) {
    std::size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(from, end - from);
    from = end + 1;
    if (first) {
      if (line != kRecoverManifestFirstLine) throw EQuillonError(foreign);
      first = false;
      continue;
    }
    if (line.empty()) continue;
    const std::optional<std::string> system = fileSystem_.FromDisplayText(line);
    if (!system || !IsInside(WithSlashes(*system)) ||
        WithSlashes(*system).rfind(kRecoverStagingName, 0) == 0) {
      throw EQuillonError("The manifest \"" + fileSystem_.ToDisplayText(path) + "\" names \"" +
                          line + "\", which lies outside the folder; nothing was removed.");
    }
    listed_.push_back(WithSlashes(*system));
  }
  if (first) throw EQuillonError(foreign);
  hasManifest_ = true;
}

void TRecoverFolder::CheckEntries(const std::string& relativeFolder, const std::string& named,
                                  const TRecoverFolderRules& rules) {
  const std::string folder = relativeFolder.empty() ? dir_ : Join(dir_, relativeFolder);
  const std::optional<std::vector<TFolderEntry>> entries = fileSystem_.ListFolder(folder);
  if (!entries) {
    throw EQuillonError("Cannot read the output folder \"" + fileSystem_.ToDisplayText(folder) +
                        "\".");
  }
  std::optional<std::string> unlisted;
  for (const TFolderEntry& entry : *entries) {
    const std::string relative =
        relativeFolder.empty() ? entry.Name : relativeFolder + "/" + entry.Name;
    if (rules.Source && !entry.IsLink && entry.Kind != TPathKind::Directory &&
        entry.Identity == *rules.Source) {
      throw EQuillonError("Refused: \"" + rules.ShownSource +
                          "\" lies inside the output folder \"" + fileSystem_.ToDisplayText(dir_) +
                          "\". Choose an output folder that does not hold the source.");
    }
    if (relativeFolder.empty() && entry.Name == kRecoverStagingName && (open_ || resume_)) {
      continue;
    }
    if (relativeFolder.empty() && entry.Name == kRecoverStagingName) {
      // An interrupted reading keeps its state there: say that it can be continued.
      const bool resumable =
          fileSystem_.Facts(Join(Join(dir_, kRecoverStagingName), kRecoverResumableMark))
              .Kind == TPathKind::File;
      throw EQuillonError(
          named + " holds \"" + kRecoverStagingName +
          "\": another recover is writing into it right now, or an earlier one that did not "
          "finish left it (it holds only what that run wrote). Wait for the other run, or "
          "delete that folder, or choose another folder." +
          (resumable && rules.ForceOffered
               ? " An interrupted recover is continued by the same command with --resume."
               : ""));
    }
    if (relativeFolder.empty() && entry.Name == kRecoverManifestName) continue;
    // Only a lock file (its holder refused this run already) or one a power cut left.
    if (relativeFolder.empty() && entry.Name == kRecoverLockName) continue;
    const bool listedFile = !entry.IsLink && entry.Kind == TPathKind::File &&
                            std::find(listed_.begin(), listed_.end(), relative) != listed_.end();
    const bool listedFolder =
        !entry.IsLink && entry.Kind == TPathKind::Directory && HoldsListed(listed_, relative);
    if (listedFolder) {
      CheckEntries(relative, named, rules);
    } else if (!listedFile && !unlisted) {
      unlisted = relative;  // the rest is still looked at for the source
    }
  }
  if (!unlisted) return;
  if (!hasManifest_) {
    throw EQuillonError(named + " is not empty and holds no earlier recovery: recover writes only "
                        "into a new or empty folder" +
                        (rules.ForceOffered ? ", and --force replaces only what recover wrote"
                                            : "") +
                        ". Choose another folder.");
  }
  throw EQuillonError(named + " holds \"" + fileSystem_.ToDisplayText(*unlisted) +
                      "\", which no earlier recover wrote there, so the folder is not used" +
                      (rules.ForceOffered ? ", also not with --force" : "") +
                      ". Choose another folder.");
}

void TRecoverFolder::Open() {
  // The folders along OUTDIR that are missing, made from the outermost in.
  std::vector<std::string> missing;
  for (std::string at = dir_; fileSystem_.Facts(at).Kind == TPathKind::Missing;) {
    missing.push_back(at);
    const std::size_t cut = at.find_last_of("/\\");
    if (cut == std::string::npos || cut == 0) break;
    at = at.substr(0, cut);
    if (at.size() == 2 && at[1] == ':') break;  // a drive's root
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    fileSystem_.CreateFolder(*it);
    created_.push_back(*it);
  }
  TakeLock(true);
  if (resume_ && fileSystem_.Facts(StagingDir()).Kind == TPathKind::Directory) {
    open_ = true;
    return;
  }
  try {
    fileSystem_.CreateNewFolder(StagingDir());
  } catch (const EQuillonError&) {
    if (fileSystem_.Facts(StagingDir()).Kind == TPathKind::Missing) throw;
    throw EQuillonError("The output folder \"" + fileSystem_.ToDisplayText(dir_) +
                        "\" is being written by another recover right now (it holds \"" +
                        kRecoverStagingName + "\"). Wait for it to end, or choose another "
                        "folder.");
  }
  open_ = true;
}

void TRecoverFolder::RemoveEarlierFiles() {
  std::set<std::string> folders;
  for (const std::string& relative : listed_) {
    fileSystem_.RemoveBelow(dir_, relative, false);
    for (std::string parent = ParentOf(relative); !parent.empty(); parent = ParentOf(parent)) {
      folders.insert(parent);
    }
  }
  // Innermost first: a longer path sorts after its parent.
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
    const auto entries = fileSystem_.ListFolder(Join(dir_, *it));
    if (entries && entries->empty()) fileSystem_.RemoveBelow(dir_, *it, true);
  }
}

void TRecoverFolder::Commit() {
  if (!open_ || committed_) return;
  // OUTDIR must still hold what it held at the checks: another run or program may have
  // written into it meanwhile, and what it wrote is not this run's to replace.
  const std::vector<std::string> before = listed_;
  const bool hadManifest = hasManifest_;
  const std::string named = "The output folder \"" + fileSystem_.ToDisplayText(dir_) + "\"";
  const auto changed = [&] {
    throw EQuillonError(named + " was changed by another program or another recover while "
                        "this one ran, so this run's result was not put there; the folder is "
                        "as the other left it.");
  };
  try {
    ReadManifest(named);
    CheckEntries("", named, {});
  } catch (const EQuillonError&) {
    changed();
  }
  if (listed_ != before || hasManifest_ != hadManifest) changed();
  const std::string staging = StagingDir();
  const std::string manifest = Join(dir_, kRecoverManifestName);
  if (hasManifest_) {
    // First a manifest that lists both runs' files: whatever stops the swap half way, a
    // later --force still knows every file in the folder.
    std::string text;
    {
      const std::unique_ptr<TStream> in =
          fileSystem_.Open(Join(staging, kRecoverManifestName), TOpenMode::ReadShared);
      text.resize(static_cast<std::size_t>(std::max<std::int64_t>(in->Length(), 0)));
      text.resize(in->Read(text.data(), text.size()));
    }
    for (const std::string& relative : listed_) text += fileSystem_.ToDisplayText(relative) + "\n";
    const std::string next = Join(staging, kNextManifestName);
    {
      const std::unique_ptr<TStream> out = fileSystem_.Open(next, TOpenMode::CreateNew);
      if (out->Write(text.data(), text.size()) != text.size() || !out->Flush()) {
        throw EQuillonError("Cannot write file \"" + fileSystem_.ToDisplayText(next) + "\". " +
                            out->LastErrorText());
      }
    }
    fileSystem_.Replace(next, manifest);
  }
  // From here on the staging folder is the only copy of what is not yet in place: a
  // failure keeps it, and says where it is.
  swapping_ = true;
  try {
    if (hasManifest_) RemoveEarlierFiles();
    const auto entries = fileSystem_.ListFolder(staging);
    if (!entries) {
      throw EQuillonError("Cannot read \"" + fileSystem_.ToDisplayText(staging) + "\".");
    }
    for (const TFolderEntry& entry : *entries) {
      if (entry.Name == kRecoverManifestName || entry.Name == kNextManifestName) continue;
      if (entry.Kind == TPathKind::Directory && !entry.IsLink &&
          RemoveIfEmpty(staging, entry.Name)) {
        continue;
      }
      fileSystem_.MoveNew(Join(staging, entry.Name), Join(dir_, entry.Name));
    }
    if (hasManifest_) {
      fileSystem_.Replace(Join(staging, kRecoverManifestName), manifest);
    } else {
      fileSystem_.MoveNew(Join(staging, kRecoverManifestName), manifest);
    }
  } catch (const EQuillonError& error) {
    throw EQuillonError(std::string(error.what()) + " The new recovery could not be put wholly " +
                        "in place: what was not moved is in \"" +
                        fileSystem_.ToDisplayText(staging) + "\", and the manifest lists " +
                        "every file of both runs in the folder.");
  }
  committed_ = true;
  fileSystem_.RemoveBelow(dir_, kRecoverStagingName, true);
}

bool TRecoverFolder::RemoveIfEmpty(const std::string& base, const std::string& relative) {
  // The manifest lists files only: a folder is known by the files listed in it. One that
  // holds none (made for a database's tables when the decoding was stopped before the
  // first) would be listed nowhere, and in OUTDIR it would keep every later run out, --force
  // too. Only what is this run's is looked at: the staging folder's own entries.
  const auto entries = fileSystem_.ListFolder(Join(base, relative));
  if (!entries) return false;
  bool empty = true;
  for (const TFolderEntry& entry : *entries) {
    const std::string inner = relative + "/" + entry.Name;
    if (entry.Kind != TPathKind::Directory || entry.IsLink || !RemoveIfEmpty(base, inner)) {
      empty = false;
    }
  }
  if (empty) fileSystem_.RemoveBelow(base, relative, true);
  return empty;
}

void TRecoverFolder::RemoveTree(const std::string& base, const std::string& relative) {
  const auto entries = fileSystem_.ListFolder(Join(base, relative));
  if (entries) {
    for (const TFolderEntry& entry : *entries) {
      const std::string inner = relative + "/" + entry.Name;
      if (entry.Kind == TPathKind::Directory && !entry.IsLink) {
        RemoveTree(base, inner);
      } else {
        fileSystem_.RemoveBelow(base, inner, false);
      }
    }
  }
  fileSystem_.RemoveBelow(base, relative, true);
}

void TRecoverFolder::Abandon() noexcept {
  if (committed_ || swapping_ || keptAside_ || resume_) return;
  try {
    if (open_) RemoveTree(dir_, kRecoverStagingName);
    open_ = false;
    lock_.reset();  // its file lies in OUTDIR
    // The folders this run made go again, innermost first, where they are still empty.
    while (!created_.empty()) {
      const std::string folder = created_.back();
      created_.pop_back();
      const auto entries = fileSystem_.ListFolder(folder);
      const std::size_t cut = folder.find_last_of("/\\");
      if (!entries || !entries->empty() || cut == std::string::npos) break;
      fileSystem_.RemoveBelow(folder.substr(0, cut), folder.substr(cut + 1), true);
    }
  } catch (...) {
    // What could not be removed stays; it holds nothing that looks like a result.
  }
}

TRecoverOutputs::TRecoverOutputs(TRecoverFolder& folder)
    : folder_(folder), inner_(folder.FileSystem()) {}

void TRecoverOutputs::Begin() {
  const std::string manifest = folder_.Join(folder_.StagingDir(), kRecoverManifestName);
  const std::string first = std::string(kRecoverManifestFirstLine) + "\n";
  const auto failed = [&] {
    return EQuillonError("Cannot write the manifest \"" +
                         inner_.ToDisplayText(PathOf(kRecoverManifestName)) + "\".");
  };
  if (!folder_.Resumes()) {
    manifest_ = inner_.Open(manifest, TOpenMode::CreateNew);
    if (manifest_->Write(first.data(), first.size()) != first.size() || !manifest_->Flush()) {
      throw failed();
    }
    return;
  }
  // The interrupted run's manifest is what lets a later --resume take the staging folder
  // over: it is never emptied in place, where a run killed right then (a loaded disk can
  // hold a truncation for a while) would leave a folder that no resume accepts. The new
  // one is written whole beside it and moved over it; the run goes on writing there.
  const std::string fresh = folder_.Join(folder_.StagingDir(), kRecoverManifestFresh);
  {
    const std::unique_ptr<TStream> out = inner_.Open(fresh, TOpenMode::CreateExclusive);
    if (out->Write(first.data(), first.size()) != first.size() || !out->Flush()) throw failed();
  }
  inner_.Replace(fresh, manifest);
  manifest_ = inner_.Open(manifest, TOpenMode::ReadWriteShared);
  if (manifest_->Seek(0, TSeekOrigin::End) != static_cast<std::int64_t>(first.size())) {
    throw failed();
  }
}

void TRecoverOutputs::Commit() {
  manifest_.reset();
  folder_.Commit();
}

void TRecoverOutputs::List(const std::string& relativeUtf8) {
  if (!manifest_) {
    throw EQuillonError("Cannot write the manifest \"" +
                        inner_.ToDisplayText(PathOf(kRecoverManifestName)) + "\".");
  }
  const std::string line = relativeUtf8 + "\n";
  if (manifest_->Write(line.data(), line.size()) != line.size() || !manifest_->Flush()) {
    throw EQuillonError("Cannot write the manifest \"" +
                        inner_.ToDisplayText(PathOf(kRecoverManifestName)) + "\".");
  }
}

std::optional<std::string> TRecoverOutputs::Below(const std::string& path) const {
  const std::string& dir = Dir();
  if (path == dir) return std::string();
  // Where OUTDIR is a Windows path the decoding still joins names with '/': both count.
  const bool under = path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
                     (path[dir.size()] == folder_.Separator() || path[dir.size()] == '/');
  if (!under) return std::nullopt;
  return WithSlashes(path.substr(dir.size() + 1));
}

std::string TRecoverOutputs::Staged(const std::string& path) const {
  const std::optional<std::string> relative = Below(path);
  if (!relative) return path;
  return relative->empty() ? folder_.StagingDir() : folder_.Join(folder_.StagingDir(), *relative);
}

std::string TRecoverOutputs::RelativeInside(const std::string& path) const {
  const std::optional<std::string> relative = Below(path);
  if (!relative || !IsInside(*relative) || *relative == kRecoverManifestName ||
      relative->rfind(kRecoverStagingName, 0) == 0) {
    throw EQuillonError("Cannot create file \"" + inner_.ToDisplayText(path) +
                        "\". recover writes only inside its output folder \"" +
                        inner_.ToDisplayText(Dir()) + "\".");
  }
  return *relative;
}

std::unique_ptr<TStream> TRecoverOutputs::Open(const std::string& path, TOpenMode mode) {
  if (mode == TOpenMode::CreateExclusive || mode == TOpenMode::CreateNew) {
    List(inner_.ToDisplayText(RelativeInside(path)));
  }
  return inner_.Open(Staged(path), mode);
}

TPathFacts TRecoverOutputs::Facts(const std::string& path) { return inner_.Facts(Staged(path)); }

std::string TRecoverOutputs::FinalPath(const std::string& path) {
  // This run's files are its own, under the names it gives them.
  return Below(path) ? path : inner_.FinalPath(path);
}

void TRecoverOutputs::Replace(const std::string& from, const std::string& to) {
  List(inner_.ToDisplayText(RelativeInside(to)));
  inner_.Replace(Staged(from), Staged(to));
}

bool TRecoverOutputs::Remove(const std::string& path) {
  RelativeInside(path);
  return inner_.Remove(Staged(path));
}

void TRecoverOutputs::CreateFolder(const std::string& path) {
  RelativeInside(path);
  inner_.CreateFolder(Staged(path));
}

void TRecoverOutputs::CreateNewFolder(const std::string& path) {
  RelativeInside(path);
  inner_.CreateNewFolder(Staged(path));
}

void TRecoverOutputs::MoveNew(const std::string& from, const std::string& to) {
  List(inner_.ToDisplayText(RelativeInside(to)));
  inner_.MoveNew(Staged(from), Staged(to));
}

}  // namespace quillon
