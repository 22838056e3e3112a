#pragma once
// OUTDIR of quillon-cli recover: it must be new or empty, or hold what an earlier recover
// wrote there, which --force removes first (and nothing else). What recover writes is
// listed as it is created in OUTDIR/quillon-recover.manifest, so that a later --force
// knows it, also after a run that was cut short.

#include <memory>
#include <string>

#include "core/stream.h"

namespace quillon {

inline constexpr const char* kRecoverManifestName = "quillon-recover.manifest";
inline constexpr const char* kRecoverManifestFirstLine = "quillon-cli recover, version 1";

// Makes utf8Dir ready for recover: creates it when it is missing; with force, removes the
// files an earlier recover listed there. Returns a text naming the folder and the cause
// when it cannot be used, empty when it is ready.
std::string PrepareRecoverDirectory(const std::string& utf8Dir, bool force);

// The file system recover writes through: every file it creates is first listed in the
// manifest, and only files inside OUTDIR may be created. Everything else goes to inner.
class TRecoverOutputs : public IFileSystem {
 public:
  // systemDir: OUTDIR as the system holds it, absolute.
  TRecoverOutputs(IFileSystem& inner, std::string systemDir);
  // Creates the manifest. Throws EQuillonError naming it when it cannot be written.
  void Begin();

  std::unique_ptr<TStream> Open(const std::string& path, TOpenMode mode) override;
  // Folders only inside OUTDIR; a later --force removes those its files leave empty.
  void CreateFolder(const std::string& path) override;
  TPathFacts Facts(const std::string& path) override { return inner_.Facts(path); }
  std::string FinalPath(const std::string& path) override { return inner_.FinalPath(path); }
  // A file moved into place inside OUTDIR is listed under its final name as well.
  void Replace(const std::string& from, const std::string& to) override;
  bool Remove(const std::string& path) override { return inner_.Remove(path); }
  std::string ToDisplayText(const std::string& systemText) override {
    return inner_.ToDisplayText(systemText);
  }
  std::optional<std::string> FromDisplayText(const std::string& text) override {
    return inner_.FromDisplayText(text);
  }

  // OUTDIR as the system holds it, without a trailing separator.
  const std::string& Dir() const { return dir_; }
  // The system path of name (a file name, '/' between folders) inside OUTDIR.
  std::string PathOf(const std::string& name) const;
  // Creates name inside OUTDIR, listed first. The one way recover's own files are made.
  std::unique_ptr<TStream> Create(const std::string& name) {
    return Open(PathOf(name), TOpenMode::CreateExclusive);
  }

 private:
  // name's path below OUTDIR ('/' between folders); throws when path lies elsewhere.
  std::string RelativeInside(const std::string& path) const;
  void List(const std::string& relativeUtf8);

  IFileSystem& inner_;
  std::string dir_;
  char separator_;
  std::unique_ptr<TStream> manifest_;
};

}  // namespace quillon
