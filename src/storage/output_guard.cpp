#include "storage/output_guard.h"

#include <cstring>

#include "core/errors.h"
#include "core/fragment_file_format.h"
#include "core/replacing_file.h"

namespace quillon {
namespace {

bool IsDevicePath(const std::string& path) { return path.rfind("\\\\.\\", 0) == 0; }

bool SameFile(const TPathFacts& a, const TPathFacts& b) {
  return a.Kind != TPathKind::Missing && a.Kind == b.Kind && a.Identity == b.Identity;
}

}  // namespace

bool IsFragmentFile(IFileSystem& fileSystem, const std::string& path) {
  if (fileSystem.Facts(path).Kind != TPathKind::File) return false;
  try {
    const std::unique_ptr<TStream> file = fileSystem.Open(path, TOpenMode::ReadShared);
    std::uint8_t head[kSignature.size()] = {};
    return file->Read(head, sizeof head) == sizeof head &&
           std::memcmp(head, kSignature.data(), sizeof head) == 0;
  } catch (const EQuillonError&) {
    return false;
  }
}

void TOutputGuard::AddSource(const std::string& sourcePath) {
  sources_.push_back({sourcePath, fileSystem_.Facts(sourcePath), "source"});
}

TOutputPlan TOutputGuard::Check(const std::string& path, const std::string& what,
                                TReplaceRule rule, const TOutputKindTest& recognise,
                                const std::string& kindName) {
  const auto refuse = [&](const std::string& shownPath, const std::string& reason) {
    throw EQuillonError("Refused: the " + what + " \"" + shownPath + "\" " + reason);
  };
  if (path.empty()) refuse("", "has no name");
  if (IsDevicePath(path)) refuse(Shown(path), "is a drive or volume; the output must be a file");
  TOutputPlan plan;
  plan.Path = fileSystem_.FinalPath(path);
  const std::string shown = Shown(plan.Path);
  const TPathFacts facts = fileSystem_.Facts(plan.Path);
  if (facts.Kind == TPathKind::Directory) refuse(shown, "is a folder; the output must be a file");
  if (facts.Kind == TPathKind::Device || facts.Kind == TPathKind::CharacterDevice) {
    refuse(shown, "is a device: writing it would destroy what is on it; the output must be a "
                  "file");
  }
  if (facts.Kind == TPathKind::Other) {
    refuse(shown, "is a pipe or a socket; the output must be a file");
  }
  for (const TClaim& source : sources_) {
    if (SameFile(facts, source.Facts) || plan.Path == source.Path) {
      refuse(shown, "is the source of this scan (\"" + Shown(source.Path) +
                        "\"); the output must be another file");
    }
  }
  for (const TClaim& output : outputs_) {
    const bool same = SameFile(facts, output.Facts) || plan.Path == output.Path ||
                      plan.Path == output.Path + kPartialSuffix ||
                      plan.Path + kPartialSuffix == output.Path;
    if (same) refuse(shown, "is also the " + output.What + " of this run; choose another name");
  }
  for (const TClaim& source : sources_) {
    if (source.Facts.Kind != TPathKind::Device && !IsDevicePath(source.Path)) continue;
    if (devices_.FileLiesOnDevice(plan.Path, source.Path)) plan.OnSourceDevice = true;
  }
  if (facts.Kind == TPathKind::File) {
    plan.Replaces = true;
    if (rule == TReplaceRule::Never) {
      refuse(shown, "already exists. Choose another name, or add --force to replace it");
    }
    if (rule == TReplaceRule::Recognised && !recognise(fileSystem_, plan.Path)) {
      std::string reason = "already exists and is not a " + kindName +
                           ", so --force does not replace it. Choose another name";
      for (const TClaim& source : sources_) {
        if (source.Facts.Kind == TPathKind::File && IsFragmentFile(fileSystem_, source.Path)) {
          reason += ". The source \"" + Shown(source.Path) +
                    "\" is itself a fragment file: the arguments look swapped (the source "
                    "comes first, then the output)";
          break;
        }
      }
      refuse(shown, reason);
    }
  }
  outputs_.push_back({plan.Path, facts, what});
  return plan;
}

}  // namespace quillon
