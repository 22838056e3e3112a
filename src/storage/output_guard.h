#pragma once
// The one place that decides whether a path may be written as an output of a run: the
// fragment file, the side index, CSV files, and whatever else a command writes. Never
// the source or a file behind it, never a device, folder or pipe, never another output
// of the same run, never an existing file unless the rule allows it; and an output that
// would lie on a device being scanned is flagged for the caller to ask about or refuse.
//
// Use: one guard per run. AddSource for everything the run reads, then Check for every
// output path before it is created; write each through TReplacingFile (core/
// replacing_file.h) so that an existing file is replaced only by a complete one.

#include <functional>
#include <string>
#include <vector>

#include "core/stream.h"
#include "storage/device_queries.h"

namespace quillon {

// Which existing file an output may replace.
enum class TReplaceRule {
  Never,              // an existing file is refused (the command line without --force)
  Recognised,         // only a file that the check's test recognises as one of ours: by
                      // default a file that starts with the fragment file signature (--force)
  Any,                // any file: the user has been asked (the window's save dialog)
};

struct TOutputPlan {
  std::string Path;             // the file to write: links along the path followed
  bool Replaces = false;        // a file is there now; it goes once the new one is complete
  bool OnSourceDevice = false;  // it lies on a device being scanned: ask first, or refuse
};

// Whether the file at path starts with the fragment file signature. Never throws.
bool IsFragmentFile(IFileSystem& fileSystem, const std::string& path);

// Tells whether an existing file is one that TReplaceRule::Recognised may replace.
using TOutputKindTest = std::function<bool(IFileSystem&, const std::string& path)>;

class TOutputGuard {
 public:
  TOutputGuard(IFileSystem& fileSystem, IDeviceQueries& devices)
      : fileSystem_(fileSystem), devices_(devices) {}

  // A path the run reads, in the system's form: an image file, a device node, or a drive
  // or volume path ("\\.\C:").
  void AddSource(const std::string& sourcePath);

  // Checks path (the system's form) as the output a person knows as what ("output file",
  // "index file") and claims it for this run, so that no later output may name it. Throws
  // EQuillonError with the reason, naming the file, when it may not be written at all.
  // kindName says what recognised files are ("fragment file") in the refusal's text.
  TOutputPlan Check(const std::string& path, const std::string& what, TReplaceRule rule,
                    const TOutputKindTest& recognise = IsFragmentFile,
                    const std::string& kindName = "fragment file");

 private:
  struct TClaim {
    std::string Path;
    TPathFacts Facts;
    std::string What;
  };
  std::string Shown(const std::string& path) { return fileSystem_.ToDisplayText(path); }

  IFileSystem& fileSystem_;
  IDeviceQueries& devices_;
  std::vector<TClaim> sources_;
  std::vector<TClaim> outputs_;
};

}  // namespace quillon
