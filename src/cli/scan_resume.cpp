#include "cli/scan_resume.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

#include "cli/platform_console.h"
#include "core/errors.h"
#include "core/replacing_file.h"
#include "core/scan_state.h"
#include "core/source_identity.h"

namespace quillon {
namespace {

TScanState ReadState(IFileSystem& fileSystem, const std::string& statePath,
                     const std::string& shownState, const std::string& shownOutput,
                     const TResumeWords& words) {
  if (fileSystem.Facts(statePath).Kind == TPathKind::Missing) {
    throw EQuillonError("Cannot resume: there is no " + words.State + " \"" + shownState +
                        "\". A " + words.Command + " keeps it beside \"" + shownOutput +
                        "\" while it runs and removes it once the " + words.Command +
                        " is complete; without it the " + words.Command +
                        " can only start over (without --resume).");
  }
  const std::unique_ptr<TStream> file = fileSystem.Open(statePath, TOpenMode::ReadShared);
  std::string text;
  char piece[65536];
  for (;;) {
    const std::size_t got = file->Read(piece, sizeof piece);
    if (got == 0) break;
    text.append(piece, got);
    if (text.size() > kMaxScanStateBytes) break;
  }
  std::string problem;
  std::optional<TScanState> state = ParseScanState(text, &problem);
  if (!state) {
    throw EQuillonError("Cannot resume from the " + words.State + " \"" + shownState + "\": " +
                        problem + ". " + words.StartOver + ".");
  }
  return *state;
}

// A file where a continued run puts its own that the interrupted run did not write.
EQuillonError NotTheEarlierFile(const std::string& shownPath, const TResumeWords& words) {
  return EQuillonError("Cannot resume: \"" + shownPath + "\" exists and is not the interrupted " +
                       words.Command + "'s file (another " + words.Command +
                       " may be writing it right now). Move or delete it, then resume again.");
}

}  // namespace

bool BeginsWith(IFileSystem& fileSystem, const std::string& path, std::int64_t bytes,
                std::uint32_t crc) {
  if (fileSystem.Facts(path).Kind != TPathKind::File) return false;
  std::unique_ptr<TStream> file;
  try {
    file = fileSystem.Open(path, TOpenMode::ReadShared);
  } catch (const EQuillonError&) {
    return false;
  }
  std::vector<std::uint8_t> piece(1024 * 1024);
  std::uint32_t sum = 0;
  for (std::int64_t left = bytes; left > 0;) {
    const auto want = static_cast<std::size_t>(std::min<std::int64_t>(left, piece.size()));
    if (file->Read(piece.data(), want) != want) return false;
    sum = static_cast<std::uint32_t>(crc32(sum, piece.data(), static_cast<uInt>(want)));
    left -= static_cast<std::int64_t>(want);
  }
  return sum == crc;
}

bool AgreesWith(IFileSystem& fileSystem, const std::string& leftover, const std::string& earlier,
                std::int64_t limit) {
  if (fileSystem.Facts(leftover).Kind != TPathKind::File) return false;
  std::unique_ptr<TStream> a, b;
  try {
    a = fileSystem.Open(leftover, TOpenMode::ReadShared);
    b = fileSystem.Open(earlier, TOpenMode::ReadShared);
  } catch (const EQuillonError&) {
    return false;
  }
  std::vector<std::uint8_t> pieceA(1024 * 1024), pieceB(pieceA.size());
  for (std::int64_t left = limit; left > 0;) {
    const auto want = static_cast<std::size_t>(std::min<std::int64_t>(left, pieceA.size()));
    const std::size_t gotA = a->Read(pieceA.data(), want);
    const std::size_t gotB = b->Read(pieceB.data(), want);
    const std::size_t both = std::min(gotA, gotB);
    if (!std::equal(pieceA.begin(), pieceA.begin() + static_cast<std::ptrdiff_t>(both),
                    pieceB.begin()))
      return false;
    if (both < want) return true;  // one of them ends here: they agree as far as both go
    left -= static_cast<std::int64_t>(want);
  }
  return true;
}

std::string ScanStatePathFor(const std::string& output) { return output + kScanStateSuffix; }

TResumeWords ScanResumeWords() {
  return {"scan", "scan state", "Start the scan over without --resume (add --force to replace "
          "the state)"};
}

void ClearEarlierState(IFileSystem& fileSystem, const std::string& output, bool force) {
  const std::string statePath = ScanStatePathFor(output);
  if (fileSystem.Facts(statePath).Kind == TPathKind::Missing) return;
  // An unfinished OUTPUT.partial refuses the scan as ever; the state stays for --resume.
  if (fileSystem.Facts(output + kPartialSuffix).Kind != TPathKind::Missing) return;
  const std::string interrupted = output + kInterruptedSuffix;
  const bool setAside = fileSystem.Facts(interrupted).Kind != TPathKind::Missing;
  if (setAside && !force) {
    throw EQuillonError("An interrupted scan into \"" + fileSystem.ToDisplayText(output) +
                        "\" can be continued from \"" + fileSystem.ToDisplayText(interrupted) +
                        "\" (its state is \"" + fileSystem.ToDisplayText(statePath) +
                        "\"). Add --resume to continue it, or --force to start over (which "
                        "discards both).");
  }
  // Otherwise the state names nothing a run could continue from (OUTPUT is gone, or --force
  // replaces it): this scan starts over and writes its own.
  for (const std::string& path : {interrupted, statePath}) {
    if (fileSystem.Facts(path).Kind != TPathKind::Missing && !fileSystem.Remove(path)) {
      throw EQuillonError("Cannot remove \"" + fileSystem.ToDisplayText(path) +
                          "\", left by an earlier scan; move or delete it.");
    }
  }
}

void PrepareResume(IFileSystem& fileSystem, TScanRestartKeeper& keeper, const std::string& output,
                   const std::string& sourcePath, std::int64_t size,
                   const std::string& shownSource, const TResumeWords& words) {
  const auto shown = [&](const std::string& path) { return fileSystem.ToDisplayText(path); };
  const std::string statePath = ScanStatePathFor(output);
  const TScanState state =
      ReadState(fileSystem, statePath, shown(statePath), shown(output), words);

  // The same source, or nothing: its size, then its first and last 64 KiB.
  {
    const std::unique_ptr<TStream> source = fileSystem.Open(sourcePath, TOpenMode::ReadShared);
    const std::string refused = "Refused: \"" + shownSource +
                                "\" is not the source of the interrupted " + words.Command +
                                " that \"" +
                                shown(statePath) + "\" describes (\"" +
                                shown(state.SourcePath) + "\"): ";
    if (size != state.SourceSize) {
      throw EQuillonError(refused + "it is " + std::to_string(size) + " bytes long, that one " +
                          std::to_string(state.SourceSize) + ". Resume with the same source.");
    }
    switch (CompareSourceIdentities(state.SourceIdentity, SourceIdentityOf(*source, size))) {
      case TIdentityMatch::Same:
        break;
      case TIdentityMatch::Different:
        throw EQuillonError(refused + "it is as long, but its first or last 64 KiB differ. "
                            "Resume with the same source.");
      case TIdentityMatch::Unchecked:
        // A failing disk whose first and last sectors cannot be read now or could not then:
        // its size is all there is to go by, and the user is told so.
        ConsolePrintf(stderr, "Note: the first and last 64 KiB of \"%s\" could not be read "
                      "in both runs, so only its size shows that it is the source of the "
                      "interrupted %s.\n", shownSource.c_str(), words.Command.c_str());
        break;
    }
  }

  // The file that holds the body up to the restart point: the newest first.
  const std::string partial = output + kPartialSuffix;
  const std::string interrupted = output + kInterruptedSuffix;
  std::string earlier;
  for (const std::string& candidate : {partial, interrupted, output}) {
    if (BeginsWith(fileSystem, candidate, state.Restart.FileBytes, state.Restart.FileCrc32)) {
      earlier = candidate;
      break;
    }
  }
  if (earlier.empty()) {
    throw EQuillonError("Cannot resume: neither \"" + shown(partial) + "\" nor \"" +
                        shown(output) + "\" holds the " + std::to_string(state.Restart.FileBytes) +
                        " bytes that the " + words.State + " \"" + shown(statePath) +
                        "\" describes (they were moved, changed or removed). " + words.StartOver +
                        ".");
  }
  // Only continued runs make OUTPUT.partial and OUTPUT.interrupted, and each copies the
  // earlier body with its checksum checked: one that does not hold the restart point while
  // another does is a copy that stopped short, or the earlier file of a copy that did not.
  // The earlier file goes once its copy is on the disk, before the new file grows past the
  // point (where the two differ), so the two agree as far as both go.
  const auto removeLeftover = [&](const std::string& path) {
    if (path == earlier || fileSystem.Facts(path).Kind == TPathKind::Missing) return;
    if (!AgreesWith(fileSystem, path, earlier, state.Restart.FileBytes)) {
      throw NotTheEarlierFile(shown(path), words);
    }
    if (!fileSystem.Remove(path)) {
      throw EQuillonError("Cannot remove \"" + shown(path) + "\", left by an earlier attempt "
                          "to resume; move or delete it, then resume again.");
    }
  };
  removeLeftover(interrupted);
  if (earlier != partial && fileSystem.Facts(partial).Kind != TPathKind::Missing &&
      fileSystem.Facts(partial).Length >= state.Restart.FileBytes) {
    // Longer than a copy that stopped short: perhaps a scan that runs right now.
    throw NotTheEarlierFile(shown(partial), words);
  }
  if (earlier == partial) {
    // The new file is written as OUTPUT.partial: the earlier one steps aside, whole, until
    // its body is copied (see TScanRestartKeeper::StartFile).
    fileSystem.MoveNew(partial, interrupted);
    earlier = interrupted;
  } else {
    removeLeftover(partial);
  }
  keeper.ContinueFrom(state, earlier, shown(earlier), earlier == interrupted);
}

bool TidyAfterScan(IFileSystem& fileSystem, const std::string& output, bool completed) {
  bool ok = true;
  const std::string interrupted = output + kInterruptedSuffix;
  if (fileSystem.Facts(interrupted).Kind != TPathKind::Missing) {
    ok = fileSystem.Remove(interrupted) && ok;
  }
  const std::string statePath = ScanStatePathFor(output);
  // With the state goes a newer one that a run cut off while it wrote it left unfinished.
  for (const std::string& path : {statePath, statePath + ".new"}) {
    if (completed && fileSystem.Facts(path).Kind != TPathKind::Missing) {
      ok = fileSystem.Remove(path) && ok;
    }
  }
  return ok;
}

}  // namespace quillon
