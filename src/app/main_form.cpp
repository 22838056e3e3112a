#include "app/main_form.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <limits>
#include <memory>
#include <thread>

#include "app/branding.h"
#include "app/run_lock.h"
#include "app/source_menu.h"
#include "app/texts.h"
#include "app/window_layout.h"
#include "core/chunk_loop.h"
#include "core/errors.h"
#include "core/fragment_file_writer.h"
#include "storage/drive_probe.h"
#include "storage/file_system.h"
#include "storage/volume_info.h"
#include "storage/volume_list.h"

namespace quillon {

// The chunk loop's view of the window.
class TMain::TScanHost : public IScanHost {
 public:
  explicit TScanHost(TMain& main) : main_(main) {}
  void ProcessPendingMessages() override { main_.view_.ProcessPendingMessages(); }
  void ShowProgress(std::int64_t position) override {
    main_.SetGaugePosition(position / main_.gaugeUnit_);
  }
  bool StopRequested() override { return main_.StopRequested; }
  std::int64_t SourceSize() override { return main_.SourceSize; }
  void ShowFragmentCount(std::int64_t count) override {
    main_.view_.SetStatusText(main_.Say(texts::kFragments, {{"N", std::to_string(count)}}));
  }
  void FragmentAdded(std::int64_t number, std::int64_t offset,
                     std::span<const std::uint8_t, kFragmentSize> fragment) override {
    if (main_.fragmentObserver_) main_.fragmentObserver_(number, offset, fragment);
  }
  bool KeepsOtherPages() override { return static_cast<bool>(main_.otherPageObserver_); }
  void OtherPageSeen(std::int64_t offset,
                     std::span<const std::uint8_t, kFragmentSize> page) override {
    main_.otherPageObserver_(offset, page);
  }

 private:
  TMain& main_;
};

TMain::TMain(IMainView& view, IFileSystem& fileSystem, IDeviceQueries& devices,
             TLanguage language)
    : Source([this] { SourceChange(); }),
      view_(view),
      fileSystem_(fileSystem),
      devices_(devices),
      language_(language) {
  FormCreate();
}

void TMain::FormCreate() {
  title_ = std::string(branding::kProductVersion) + "   " + branding::kWebAddress;
  DrivePrefix = "physicaldrive";
  DevicePrefix = "\\\\.\\";
  DriveSeparator = ":";
  RootSuffix = ":\\";
}

TPathConstants TMain::PathConstants() const {
  return {DrivePrefix, DevicePrefix, DriveSeparator, RootSuffix};
}

void TMain::ShowControlStates(window::TWindowState state) {
  view_.SetStartEnabled(window::Enabled(window::TCommand::Start, state));
  view_.SetRecoverEnabled(window::Enabled(window::TCommand::Recover, state));
}

void TMain::LockControls() {
  ShowControlStates(recovering_ ? window::TWindowState::Recovering
                                : window::TWindowState::Scanning);
}

void TMain::UnlockControls() { ShowControlStates(window::TWindowState::Idle); }

void TMain::Button1Click() { StopRequested = true; }

std::string TMain::Shown(const std::string& systemText) const {
  return fileSystem_.ToDisplayText(systemText);
}

std::string TMain::SystemPath(const std::string& chosenPath) const {
  return SystemPathOf(fileSystem_, chosenPath);
}

void TMain::SourceChange() {
  SourcePath = Source.Text();
  view_.AppendLogLine(Say(texts::kSourceChosen, {{"PATH", Shown(Source.Text())}}));
  if (SourcePath.empty()) return;
  const TPathConstants constants = PathConstants();
  SourcePath = ToSourcePath(SourcePath, constants);

  // One open of the source, for reading; it is closed again however the sizing ends.
  const TSourceKind kind = SourceKindOf(SourcePath, constants);
  if (kind == TSourceKind::ImageFile) {
    const std::unique_ptr<TStream> source = fileSystem_.Open(SourcePath, TOpenMode::ReadShared);
    const std::int64_t length = source->Length();
    if (length < 0) throw EQuillonError("Cannot take the length of \"" + SourcePath + "\"");
    CheckSourceHasSize(length);
    SourceSize = length;
  } else {
    const std::unique_ptr<IDevice> device = devices_.OpenDevice(SourcePath, TOpenMode::ReadShared);
    SourceSize = DeviceSize(*device, kind);
  }
}

void TMain::CheckSourceHasSize(std::int64_t size) {
  const TPathKind kind = fileSystem_.Facts(SourcePath).Kind;
  const std::string shown = Shown(SourcePath);
  if (kind == TPathKind::CharacterDevice || kind == TPathKind::Other) {
    SourceSize = 0;
    throw EQuillonError("Cannot scan \"" + shown + "\": it is " +
                        (kind == TPathKind::Other ? "a pipe or a socket" : "a character device") +
                        ", not a disk, a volume or an image file, and has no size to scan");
  }
  if (kind == TPathKind::Device && size <= 0) {
    SourceSize = 0;
    throw EQuillonError("Cannot size \"" + shown +
                        "\": the device reports no size (a loop device without its file, or "
                        "a drive without a medium), and a scan of 0 bytes would find nothing");
  }
}

std::int64_t TMain::DeviceSize(IDevice& device, TSourceKind kind) {
  std::int64_t size = 0;
  if (kind == TSourceKind::PhysicalDrive) {
    size = GetDriveSize(device);
  } else {
    // The volume's total bytes; where its file system is not recognised (the very volume
    // a person may need to recover from) its extent, and then the open device's length.
    const std::string letter = SourcePath.substr(DevicePrefix.size(), 1);
    size = VolumeBytesToScan(TNTVolumeInfo(letter, devices_, PathConstants()));
  }
  if (size <= 0) size = device.Length().value_or(0);
  if (size <= 0) {
    throw EQuillonError("Cannot size \"" + Shown(Source.Text()) + "\" (" + SourcePath +
                        "): the device reports no size, and a scan of 0 bytes would find nothing");
  }
  return size;
}

void TMain::button2Click() {
  view_.AppendLogLine(Say(texts::kRuleLine));
  view_.AppendLogLine(Say(texts::kScanStarted));
  if (Source.Text().empty() || Destination.Text().empty()) {
    view_.ShowMessage(Say(texts::kMissingInput));
    lastScan_ = TScanReport{};
    lastScan_.End = TScanEnd::MissingInput;
  } else {
    const TOutputPlan plan = PlanOutput();
    if (plan.OnSourceDevice && !OutputPlacementAccepted(plan.Path)) {
      lastScan_ = TScanReport{};
      lastScan_.End = TScanEnd::Declined;
      return;  // nothing was opened or created, and nothing was scanned
    }
    // Another run writing the same file would cut this one's to pieces: it is refused
    // before anything is created. The scan inside a recovery is under the folder's lock.
    std::unique_ptr<TRunLock> lock;
    if (lockedOutput_ != plan.Path) {
      try {
        lock = LockForRunWherePossible(fileSystem_, ScanLockPathFor(plan.Path), Shown(plan.Path),
                                       language_);
      } catch (...) {
        lastScan_ = TScanReport{};
        lastScan_.End = TScanEnd::Refused;
        throw;
      }
    }
    RunScan(plan.Path);
  }
  view_.AppendLogLine(Say(texts::kScanClosing));
}

void TMain::LockOutput(const std::string& outputPath) {
  if (lockedOutput_ == outputPath) return;
  outputLock_.reset();
  lockedOutput_.clear();
  outputLock_ = LockForRunWherePossible(fileSystem_, ScanLockPathFor(outputPath),
                                        Shown(outputPath), language_);
  if (outputLock_) lockedOutput_ = outputPath;
}

TOutputPlan TMain::PlanOutput() {
  try {
    TOutputGuard guard(fileSystem_, devices_);
    guard.AddSource(SourcePath);
    return guard.Check(Destination.Text(), "output file", replaceRule_);
  } catch (...) {
    lastScan_ = TScanReport{};
    lastScan_.End = TScanEnd::Refused;
    throw;
  }
}

bool TMain::OutputPlacementAccepted(const std::string& outputPath) {
  return view_.AskYesNo(Say(texts::kOutputOnSourceDevice,
                            {{"PATH", Shown(outputPath)}, {"DISK", Shown(Source.Text())}}));
}

namespace {

// "Everything else was scanned" only when the scan reached the end of the source.
std::string UnreadableLogLine(const TByteRanges& unreadable, bool reachedEnd,
                              TLanguage language) {
  return Fill(reachedEnd ? texts::kUnreadable : texts::kUnreadableBeforeEnd, language,
              {{"N", std::to_string(unreadable.Bytes())},
               {"M", std::to_string(unreadable.Count())}});
}

// The whole percentage of size that position is, never 100 before the end.
std::int64_t PercentOf(std::int64_t position, std::int64_t size) {
  if (size <= 0) return 100;
  const auto percent = static_cast<std::int64_t>(static_cast<long double>(position) * 100 / size);
  return position < size ? std::min<std::int64_t>(percent, 99) : 100;
}

std::string StoppedLogLine(std::int64_t position, std::int64_t size, TLanguage language) {
  return Fill(texts::kStopped, language,
              {{"X", std::to_string(position)},
               {"Y", std::to_string(size)},
               {"Z", std::to_string(PercentOf(position, size))}});
}

std::string SourceLossText(const TChunkLoopResult& loop, const std::string& shownSource) {
  const std::string complete = " The fragment file is complete up to there.";
  if (loop.Loss == TSourceLoss::Shrunk) {
    return "The source \"" + shownSource + "\" became shorter during the scan: it ends at byte " +
           std::to_string(loop.LengthNow < 0 ? loop.EndPosition : loop.LengthNow) +
           " now, so the scan ended at offset " + std::to_string(loop.EndPosition) + "." + complete;
  }
  return "The source \"" + shownSource + "\" can no longer be read from offset " +
         std::to_string(loop.EndPosition) +
         " on: the device is gone or no sector of it answers any more, so the scan ended "
         "there." + complete;
}

}  // namespace

void TMain::RunScan(const std::string& outputPath, bool showMessages,
                    IFileSystem* outputFileSystem) {
  // Cleared however the run ends, also by an exception.
  struct TScanningFlag {
    bool& Flag;
    explicit TScanningFlag(bool& flag) : Flag(flag) { Flag = true; }
    ~TScanningFlag() { Flag = false; }
  } scanningFlag(scanning_);
  StopRequested = false;
  lastScan_ = {};
  std::unique_ptr<TStream> source;
  // The body is compressed on every core: a dense source is otherwise bound by one.
  TFragmentFileWriter writer(outputFileSystem != nullptr ? *outputFileSystem : fileSystem_,
                             std::max(1u, std::thread::hardware_concurrency()));
  finishedEarly_ = false;
  earlyFinishFailure_ = nullptr;
  TChunkLoopResult loop;
  std::exception_ptr failure;
  // Noted here, not asked of the writer later: FinishFileNow may have closed it by then.
  bool created = false;
  try {
    LockControls();
    // A path the header cannot hold is refused before the output is created.
    TFragmentFileWriter::CheckSourcePathFits(SourcePath, Shown(SourcePath));
    source = fileSystem_.Open(SourcePath, TOpenMode::ReadShared);
    const std::int64_t sourceLength = source->Length();
    if (restartKeeper_ != nullptr) {
      restartKeeper_->StartFile(writer, outputPath, SourcePath, *source, sourceLength,
                                SourceSize);
      created = true;
    } else {
      writer.Create(outputPath);
      created = true;
      writer.WriteHeader(SourcePath, sourceLength);
    }
    openWriter_ = &writer;  // from here until the end of the try, FinishFileNow may finish it
    source->Seek(0, TSeekOrigin::Begin);
    gaugeUnit_ = GaugeUnitFor(SourceSize);
    gg_.SetMin(0);
    gg_.SetMax(static_cast<std::int32_t>(SourceSize / gaugeUnit_));
    view_.ShowGauge(gg_);
    if (showMessages) view_.ShowMessage(std::to_string(SourceSize));
    TScanHost host(*this);
    // The run ends at the source's end. A raw Windows device may report no end of its own
    // (0); its size is then the one chosen.
    const bool isFile = SourceKindOf(SourcePath, PathConstants()) == TSourceKind::ImageFile;
    loop = RunChunkLoop(host, *source, isFile || sourceLength > 0 ? sourceLength : -1, writer,
                        restartKeeper_);
    const bool reachedEnd = !loop.Stopped && loop.Loss == TSourceLoss::None;
    if (!loop.Unreadable.Empty()) {
      view_.AppendLogLine(UnreadableLogLine(loop.Unreadable, reachedEnd, language_));
    }
    if (loop.Stopped) view_.AppendLogLine(StoppedLogLine(loop.EndPosition, SourceSize, language_));
    if (!finishedEarly_) writer.Finish();
    if (earlyFinishFailure_) std::rethrow_exception(earlyFinishFailure_);
  } catch (...) {
    failure = std::current_exception();
    // A continued file that failed while its earlier part was copied is still this run's.
    created = created || writer.IsCreated();
  }
  openWriter_ = nullptr;
  // The cleanup runs after a normal end, a stop and a failure alike; both files are
  // still open while the completion message is on screen. Only a finished file is moved
  // into place, by Close; an unfinished one stays beside it under its partial name.
  if (showMessages) {
    ShowDoneMessage();
    UnlockControls();
  }
  SetGaugePosition(0);
  const std::string partialPath = created ? writer.PartialPath() : std::string();
  // A scan that lost its source finished its file, but did not reach the end: it takes
  // the output's place only where no earlier file would be lost.
  const bool keepPartial =
      created && !failure && loop.Loss != TSourceLoss::None && writer.ReplacesAFile();
  try {
    if (keepPartial) {
      writer.CloseKeepingPartial();
    } else {
      writer.Close();
    }
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  source.reset();

  lastScan_.OutputPath = outputPath;
  lastScan_.BytesToScan = SourceSize;
  if (created && (failure || keepPartial)) {
    lastScan_.PartialPath = partialPath;
    // The window's recovery discards an unfinished file with the rest of a failed run.
    if (outputFileSystem == nullptr) {
      view_.AppendLogLine(Say(texts::kPartialKept, {{"PATH", Shown(partialPath)}}));
    }
  }
  lastScan_.Fragments = loop.Fragments;
  lastScan_.BytesScanned = loop.EndPosition;
  lastScan_.Unreadable = loop.Unreadable.Ranges();
  lastScan_.UnreadableBytes = loop.Unreadable.Bytes();
  if (failure) {
    lastScan_.End = TScanEnd::Failed;
    std::rethrow_exception(failure);
  }
  if (loop.Loss != TSourceLoss::None) {
    // The file is finished; the scan still did not reach its end, and that is a failure.
    lastScan_.End = TScanEnd::SourceLost;
    std::string text = SourceLossText(loop, Shown(SourcePath));
    if (keepPartial) {
      text += " It is kept as \"" + Shown(partialPath) + "\", and the earlier \"" +
              Shown(outputPath) + "\" is as it was";
    }
    throw EQuillonError(text);
  }
  lastScan_.End = loop.Stopped ? TScanEnd::Stopped : TScanEnd::Completed;
}

void TMain::FinishFileNow() {
  StopRequested = true;
  if (openWriter_ == nullptr || finishedEarly_) return;
  finishedEarly_ = true;
  // Both steps may throw (a full disk; an output changed meanwhile, or a failed move):
  // the failure is kept for the scan to report once the pump returns to it.
  try {
    openWriter_->Finish();
    openWriter_->Close();
  } catch (...) {
    earlyFinishFailure_ = std::current_exception();
    openWriter_->CloseKeepingPartial();
  }
}

void TMain::ShowDoneMessage() {
  // After a close request nobody waits for the box: the program ends once the file is done.
  if (closeRequested_) {
    view_.ShowSelfClosingMessage(Say(texts::kDone));
  } else {
    view_.ShowMessage(Say(texts::kDone));
  }
}

void TMain::RecBtnClick() {
  RecBtnDropDown();
  // A close request taken while the menu was being built, with no scan running: the window
  // is going away. During a scan the window stays open and usable until the scan ends.
  if (closeRequested_ && !Busy()) return;
  const std::optional<std::string> chosen = view_.ShowSourceMenu();
  if (chosen) SourceItemClick(*chosen);
}

void TMain::RecBtnDropDown() {
  view_.ProcessPendingMessages();
  view_.ClearSourceMenu();
  view_.AddSourceMenuEntry(source_menu::kOpenImageName, Say(texts::kOpenImageCaption),
                           source_menu::kOpenImageImageIndex);
  const TNTVolumeList volumes(devices_, PathConstants());
  if (volumes.Count() > 0) view_.AddSourceMenuSeparator();
  for (int i = 0; i < volumes.Count(); ++i) {
    view_.AddSourceMenuEntry(volumes.Letters[i] + source_menu::kVolumeNameSuffix,
                             Shown(volumes.Captions[i]), source_menu::kVolumeImageIndex);
  }
  view_.AddSourceMenuSeparator();
  // Each drive is added as the probe hands it on, before the next one is tried.
  ProbeDrives(devices_, PathConstants(), [this](const TProbedDrive& drive) {
    view_.AddSourceMenuEntry(drive.EntryName, drive.Caption, source_menu::kDriveImageIndex);
  });
}

void TMain::SourceItemClick(const std::string& name) {
  view_.ClearOpenDialog();
  if (name.empty()) return;  // no entry of pop has an empty name
  if (name == source_menu::kOpenImageName) {
    const std::optional<std::string> chosen = view_.ShowOpenDialog();
    if (!chosen) return;
    const std::string path = SystemPath(*chosen);
    SourcePath = path;
    Source.SetText(path);
  } else if (name.starts_with(DrivePrefix)) {
    SourcePath = DevicePrefix + name;
    Source.SetText(name);
  } else {
    const std::string volume = name.substr(0, 1) + DriveSeparator;
    SourcePath = DevicePrefix + volume;
    Source.SetText(volume);
  }
}

void TMain::SaveBtnClick() {
  const std::optional<std::string> chosen = view_.ShowSaveDialog(Shown(Destination.Text()));
  // A name the system cannot hold is refused before anything is created; the log still
  // shows the output that stays chosen.
  std::exception_ptr refusal;
  if (chosen) {
    try {
      Destination.SetText(SystemPath(*chosen));
    } catch (const EQuillonError&) {
      refusal = std::current_exception();
    }
  }
  view_.AppendLogLine(Say(texts::kDestinationChosen, {{"PATH", Shown(Destination.Text())}}));
  if (refusal) std::rethrow_exception(refusal);
}

bool TMain::FormCloseQuery() {
  closeRequested_ = true;
  return !Busy();
}

void TMain::SetGaugePosition(std::int64_t value) {
  const auto clamped = std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                std::numeric_limits<std::int32_t>::max());
  gg_.SetPosition(static_cast<std::int32_t>(clamped));
  view_.ShowGauge(gg_);
}

}  // namespace quillon
