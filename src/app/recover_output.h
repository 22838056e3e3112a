#pragma once
// OUTDIR of a recovery: it must be new or empty, or hold only what an earlier recover wrote
// there, which --force replaces. A run builds its result aside, in a hidden staging folder
// inside OUTDIR, and only a run that has a result puts it in place of the earlier one, so
// that a refusal creates nothing and a failure leaves OUTDIR as it was. What recover
// writes is listed as it is created in the manifest (quillon-recover.manifest), so that a
// later --force knows it, also after a run that was cut short.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/language.h"
#include "core/stream.h"

namespace quillon {

inline constexpr const char* kRecoverManifestName = "quillon-recover.manifest";
inline constexpr const char* kRecoverManifestFirstLine = "quillon-cli recover, version 1";
// A resumed run's new manifest while it is written, before it takes the old one's place.
inline constexpr const char* kRecoverManifestFresh = "quillon-recover.manifest.new";
// The folder inside OUTDIR a run writes into until its result is complete.
inline constexpr const char* kRecoverStagingName = ".quillon-recover.partial";
// The reading's scan state in the staging folder: while it is there, the run can be resumed.
inline constexpr const char* kRecoverResumableMark = "fragments.frag.resume";

struct TRecoverFolderRules {
  bool Force = false;         // an earlier recovery may be replaced
  bool ForceOffered = true;   // refusals may suggest --force (the window has no such option)
  // The source when it is a file: OUTDIR may not hold it under any name or link.
  std::optional<TFileIdentity> Source;
  std::string ShownSource;    // the source as the person named it, for the refusal
  // Continue an interrupted run: its staging folder is taken over rather than refused, and
  // kept whatever happens until a Commit (it holds what the earlier run read).
  bool Resume = false;
  TLanguage Language = TLanguage::English;  // of the refusal when another run holds OUTDIR
};

// OUTDIR from its checks to the new result in place. Construct, Open, write through
// TRecoverOutputs, then Commit; destroyed without a Commit it takes back what it made.
class TRecoverFolder {
 public:
  // Checks dir (the system's form, absolute) and changes nothing but taking its lock (see
  // app/run_lock.h) where it exists, before any check. Throws EQuillonError naming the
  // folder and the cause when a recovery may not be written there, another run holding it
  // among them.
  TRecoverFolder(IFileSystem& fileSystem, std::string dir, const TRecoverFolderRules& rules);
  ~TRecoverFolder() { Abandon(); }
  TRecoverFolder(const TRecoverFolder&) = delete;
  TRecoverFolder& operator=(const TRecoverFolder&) = delete;

  // Creates OUTDIR where it is missing, takes its lock where the checks could not, and
  // creates the staging folder. Throws EQuillonError; another run writing into the same
  // folder is refused here. A resumed run takes over the
  // staging folder that is there.
  void Open();
  // Removes the earlier recovery's files and moves the new ones into their places, the
  // manifest last. Throws EQuillonError naming what could not be moved; the manifest then
  // lists everything of both runs that is in OUTDIR.
  void Commit();
  // Removes the staging folder with all in it, and OUTDIR when this run made it; a resumed
  // run's staging folder stays. Never throws.
  void Abandon() noexcept;
  // Leaves this run's files in the staging folder, and OUTDIR as it was: for a result that
  // is not whole (a source lost half way) where it would replace an earlier recovery.
  void KeepAside() { keptAside_ = true; }
  // Whether OUTDIR holds an earlier recovery that a Commit replaces.
  bool ReplacesEarlier() const { return hasManifest_; }
  // Whether this run took over an interrupted run's staging folder.
  bool Resumes() const { return resume_; }

  IFileSystem& FileSystem() const { return fileSystem_; }
  const std::string& Dir() const { return dir_; }
  char Separator() const { return separator_; }
  std::string StagingDir() const { return Join(dir_, kRecoverStagingName); }
  std::string Join(const std::string& folder, const std::string& relative) const;

 private:
  void ReadManifest(const std::string& named);
  void CheckEntries(const std::string& relativeFolder, const std::string& named,
                    const TRecoverFolderRules& rules);
  void RemoveTree(const std::string& base, const std::string& relative);
  // Removes the folder relative below base when it holds no file, its empty folders
  // removed first; whether it did.
  bool RemoveIfEmpty(const std::string& base, const std::string& relative);
  void RemoveEarlierFiles();
  // Takes OUTDIR's lock unless held; throws when another run holds it. A lock that cannot be
  // taken at all (a folder without write access) throws only when required.
  void TakeLock(bool required);

  IFileSystem& fileSystem_;
  std::string dir_;
  char separator_;
  bool hasManifest_ = false;
  std::vector<std::string> listed_;   // the earlier manifest's files, '/' between folders
  std::vector<std::string> created_;  // folders made for OUTDIR, innermost last
  bool open_ = false;
  bool resume_ = false;    // the staging folder is an interrupted run's, taken over
  bool swapping_ = false;  // the earlier recovery is going: the staging folder stays
  bool keptAside_ = false;
  bool committed_ = false;
  TLanguage language_;
  std::unique_ptr<TRunLock> lock_;  // held from the first check to the end of the run
};

// The file system recover writes through: every file it creates is first listed in the
// manifest, and only files inside OUTDIR may be created. A path inside OUTDIR names the
// file of this run, which lies in the staging folder until the commit; everything else
// goes to the folder's file system as it is.
class TRecoverOutputs : public IFileSystem {
 public:
  explicit TRecoverOutputs(TRecoverFolder& folder);
  // Creates the manifest in the staging folder (for a resumed run, anew over the earlier
  // run's: what that run wrote is either written again or removed). Throws EQuillonError
  // naming it.
  void Begin();
  // Closes the manifest and puts this run's result in place (TRecoverFolder::Commit).
  void Commit();
  // Closes the manifest and leaves this run's files aside (TRecoverFolder::KeepAside).
  void KeepAside() {
    manifest_.reset();
    folder_.KeepAside();
  }

  std::unique_ptr<TStream> Open(const std::string& path, TOpenMode mode) override;
  // Folders only inside OUTDIR; a later --force removes those its files leave empty.
  void CreateFolder(const std::string& path) override;
  TPathFacts Facts(const std::string& path) override;
  std::string FinalPath(const std::string& path) override;
  std::string PathOfCreated(const std::string& path) override {
    return inner_.PathOfCreated(Staged(path));
  }
  // A file moved into place inside OUTDIR is listed under its final name as well.
  void Replace(const std::string& from, const std::string& to) override;
  bool Remove(const std::string& path) override;
  std::string ToDisplayText(const std::string& systemText) override {
    return inner_.ToDisplayText(systemText);
  }
  std::optional<std::string> FromDisplayText(const std::string& text) override {
    return inner_.FromDisplayText(text);
  }
  std::optional<std::vector<TFolderEntry>> ListFolder(const std::string& path) override {
    return inner_.ListFolder(Staged(path));
  }
  void CreateNewFolder(const std::string& path) override;
  void RemoveBelow(const std::string& base, const std::string& relative, bool folder) override {
    inner_.RemoveBelow(Staged(base), relative, folder);
  }
  void MoveNew(const std::string& from, const std::string& to) override;
  // Granted without a file: the run holds the lock of the whole folder (TRecoverFolder), and
  // a lock file of its own in the staging folder would be left there by a kill.
  std::unique_ptr<TRunLock> TryLock(const std::string& /*path*/) override {
    return std::make_unique<TRunLock>();
  }

  // OUTDIR as the system holds it, without a trailing separator.
  const std::string& Dir() const { return folder_.Dir(); }
  // The separator of OUTDIR's paths: '\\' where OUTDIR is a Windows path.
  char Separator() const { return folder_.Separator(); }
  // The system path of name (a file name, '/' between folders) inside OUTDIR.
  std::string PathOf(const std::string& name) const { return folder_.Join(Dir(), name); }
  // Creates name inside OUTDIR, listed first. The one way recover's own files are made.
  std::unique_ptr<TStream> Create(const std::string& name) {
    return Open(PathOf(name), TOpenMode::CreateNew);
  }

 private:
  // path's part below OUTDIR ('/' between folders), or nothing when it lies elsewhere.
  std::optional<std::string> Below(const std::string& path) const;
  // Where path lies now: inside OUTDIR in the staging folder, elsewhere where it names.
  std::string Staged(const std::string& path) const;
  // The part below OUTDIR of a file about to be created; throws when it lies elsewhere.
  std::string RelativeInside(const std::string& path) const;
  void List(const std::string& relativeUtf8);

  TRecoverFolder& folder_;
  IFileSystem& inner_;
  std::unique_ptr<TStream> manifest_;
};

}  // namespace quillon
