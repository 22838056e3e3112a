#include "support/memory_file_system.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "core/errors.h"

namespace quillon::testing {
namespace {

class TMemoryStream : public TStream {
 public:
  explicit TMemoryStream(std::shared_ptr<TMemoryFile> file) : file_(std::move(file)) {
    ++file_->OpenCount;
  }
  ~TMemoryStream() override { --file_->OpenCount; }

  std::size_t Read(void* buffer, std::size_t n) override {
    TMemoryFile& file = *file_;
    file.Reads.push_back({position_, static_cast<std::int64_t>(n)});
    const auto reads = static_cast<std::int64_t>(file.Reads.size());
    failure_ = TReadFailure::None;
    if (file.ShrinkAfterReads >= 0 && reads > file.ShrinkAfterReads &&
        file.Data.size() > file.ShrinkTo) {
      file.Data.resize(file.ShrinkTo);
    }
    if (file.GoneAfterReads >= 0 && reads > file.GoneAfterReads) {
      failure_ = TReadFailure::DeviceGone;
      return 0;
    }
    if (file.ReadLimit >= 0) n = std::min(n, static_cast<std::size_t>(file.ReadLimit));
    const auto size = static_cast<std::int64_t>(file.Data.size());
    if (position_ >= size) return 0;
    std::size_t got = std::min<std::size_t>(n, static_cast<std::size_t>(size - position_));
    const auto alignment = static_cast<std::int64_t>(file.Alignment);
    const bool endsAtEnd = position_ + static_cast<std::int64_t>(got) == size;
    if (position_ % alignment != 0 || (static_cast<std::int64_t>(n) % alignment != 0 && !endsAtEnd)) {
      failure_ = TReadFailure::Unreadable;
      return 0;
    }
    for (const TByteRange& bad : file.BadRanges) {
      if (bad.Offset < position_ + static_cast<std::int64_t>(got) &&
          bad.Offset + bad.Length > position_) {
        if (failure_ != TReadFailure::Unreadable) std::this_thread::sleep_for(file.FailedReadTime);
        failure_ = TReadFailure::Unreadable;
        error_ = "Input/output error";
        got = file.PartialBeforeBad && bad.Offset > position_
                  ? static_cast<std::size_t>(bad.Offset - position_)
                  : 0;
      }
    }
    std::memcpy(buffer, file.Data.data() + position_, got);
    position_ += static_cast<std::int64_t>(got);
    return got;
  }

  TReadFailure LastReadFailure() const override { return failure_; }

  std::size_t ReadAlignment() const override { return file_->Alignment; }

  std::int64_t NextDataOffset(std::int64_t from) override {
    ++file_->HoleQuestions;
    if (file_->DataExtents.empty()) return from;
    for (const TByteRange& extent : file_->DataExtents) {
      if (extent.Offset + extent.Length > from) return std::max(from, extent.Offset);
    }
    return static_cast<std::int64_t>(file_->Data.size());
  }

  std::int64_t NextHoleOffset(std::int64_t from) override {
    ++file_->HoleQuestions;
    if (file_->DataExtents.empty()) return -1;
    for (const TByteRange& extent : file_->DataExtents) {
      if (extent.Offset + extent.Length > from) {
        return extent.Offset > from ? from : extent.Offset + extent.Length;
      }
    }
    return from;
  }

  bool Flush() override {
    ++file_->Flushes;
    if (file_->FlushFails) error_ = "Input/output error";
    return !file_->FlushFails;
  }

  std::string LastErrorText() const override { return error_; }

  std::size_t Write(const void* buffer, std::size_t n) override {
    file_->WriteSizes.push_back(n);
    std::size_t accepted = n;
    if (file_->WriteLimit >= 0) {
      accepted = std::min<std::size_t>(n, static_cast<std::size_t>(file_->WriteLimit));
      file_->WriteLimit -= static_cast<std::int64_t>(accepted);
      if (accepted < n) error_ = "No space left on device";
    }
    const auto end = static_cast<std::size_t>(position_) + accepted;
    if (file_->Data.size() < end) file_->Data.resize(end);
    std::memcpy(file_->Data.data() + position_, buffer, accepted);
    position_ += static_cast<std::int64_t>(accepted);
    return accepted;
  }

  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    const std::int64_t base = origin == TSeekOrigin::Begin     ? 0
                              : origin == TSeekOrigin::Current ? position_
                                                               : static_cast<std::int64_t>(file_->Data.size());
    if (base + offset < 0) return -1;
    position_ = base + offset;
    return position_;
  }

 private:
  std::shared_ptr<TMemoryFile> file_;
  std::int64_t position_ = 0;
  TReadFailure failure_ = TReadFailure::None;
  std::string error_;
};

}  // namespace

std::unique_ptr<TStream> TMemoryFileSystem::Open(const std::string& path, TOpenMode mode) {
  auto file = Find(path);
  if (mode == TOpenMode::CreateNew) {
    if (file) throw EQuillonError(CreateErrorText(path, "File exists"));
    file = Put(path, {});
    if (const auto faults = NewFileFaults.find(path); faults != NewFileFaults.end()) {
      file->WriteLimit = faults->second.WriteLimit;
      file->FlushFails = faults->second.FlushFails;
    }
  } else if (mode == TOpenMode::CreateExclusive) {
    if (file && file->OpenCount > 0) {
      throw EQuillonError(CreateErrorText(path, "The file is in use"));
    }
    if (!file) file = Put(path, {});
    file->Data.clear();
  } else if (!file) {
    throw EQuillonError(OpenErrorText(path, "No such file or directory"));
  }
  return std::make_unique<TMemoryStream>(file);
}

std::shared_ptr<TMemoryFile> TMemoryFileSystem::Put(const std::string& path,
                                                    std::vector<std::uint8_t> data) {
  auto file = std::make_shared<TMemoryFile>();
  file->Data = std::move(data);
  file->Id = ++lastId_;
  files_[path] = file;
  return file;
}

std::shared_ptr<TMemoryFile> TMemoryFileSystem::Find(const std::string& path) const {
  const auto it = files_.find(path);
  return it == files_.end() ? nullptr : it->second;
}

std::string TMemoryFileSystem::ToDisplayText(const std::string& systemText) {
  if (!SingleByteCodePage) return systemText;
  std::string text;
  for (const char c : systemText) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      text += c;
    } else {
      text += static_cast<char>(0xC0 | (byte >> 6));
      text += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return text;
}

std::optional<std::string> TMemoryFileSystem::FromDisplayText(const std::string& text) {
  if (!SingleByteCodePage) return text;
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      bytes += text[i];
    } else if ((lead == 0xC2 || lead == 0xC3) && i + 1 < text.size()) {
      bytes += static_cast<char>(((lead & 0x03) << 6) | (static_cast<unsigned char>(text[++i]) & 0x3F));
    } else {
      return std::nullopt;  // beyond U+00FF
    }
  }
  return bytes;
}

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// The part of path below folder, or nothing when it does not lie below it.
std::optional<std::string> Below(const std::string& path, const std::string& folder) {
  if (path.size() <= folder.size() + 1 || path.compare(0, folder.size(), folder) != 0 ||
      !IsSeparator(path[folder.size()])) {
    return std::nullopt;
  }
  return path.substr(folder.size() + 1);
}

std::string Joined(const std::string& base, const std::string& relative) {
  const char separator = base.find('\\') != std::string::npos ? '\\' : '/';
  std::string path = base + separator + relative;
  for (std::size_t i = base.size(); i < path.size(); ++i) {
    if (path[i] == '/') path[i] = separator;
  }
  return path;
}

}  // namespace

bool TMemoryFileSystem::IsFolder(const std::string& path) const {
  if (folders_.contains(path)) return true;
  for (const auto& [name, file] : files_) {
    if (Below(name, path)) return true;
  }
  return false;
}

std::optional<std::vector<TFolderEntry>> TMemoryFileSystem::ListFolder(const std::string& path) {
  if (!IsFolder(path)) return std::nullopt;
  std::map<std::string, TFolderEntry> entries;
  const auto add = [&](const std::string& below, bool isFolder) {
    const auto end = std::find_if(below.begin(), below.end(), IsSeparator);
    TFolderEntry entry;
    entry.Name = std::string(below.begin(), end);
    const std::string full = Joined(path, entry.Name);
    entry.IsLink = Links.contains(full);
    entry.Kind = entry.IsLink ? TPathKind::Other
                 : end != below.end() || isFolder ? TPathKind::Directory
                                                  : TPathKind::File;
    if (const auto file = Find(full); file && entry.Kind == TPathKind::File)
      entry.Identity = {1, file->Id};
    entries.emplace(entry.Name, entry);
  };
  for (const auto& [name, file] : files_) {
    if (const auto below = Below(name, path)) add(*below, false);
  }
  for (const std::string& folder : folders_) {
    if (const auto below = Below(folder, path)) add(*below, true);
  }
  std::vector<TFolderEntry> list;
  for (auto& [name, entry] : entries) list.push_back(entry);
  return list;
}

void TMemoryFileSystem::CreateNewFolder(const std::string& path) {
  if (Find(path) || IsFolder(path)) throw EQuillonError(CreateErrorText(path, "File exists"));
  folders_.insert(path);
}

void TMemoryFileSystem::RemoveBelow(const std::string& base, const std::string& relative,
                                    bool folder) {
  const std::string path = Joined(base, relative);
  for (std::size_t slash = relative.find('/'); slash != std::string::npos;
       slash = relative.find('/', slash + 1)) {
    if (Links.contains(Joined(base, relative.substr(0, slash)))) {
      throw EQuillonError("Cannot remove \"" + path + "\". A link along it is never followed.");
    }
  }
  if (Links.erase(path) > 0) return;  // the link itself goes
  if (!folder) {
    files_.erase(path);
    return;
  }
  for (const auto& [name, file] : files_) {
    if (Below(name, path)) throw EQuillonError("Cannot remove \"" + path + "\". Not empty.");
  }
  folders_.erase(path);
}

void TMemoryFileSystem::MoveNew(const std::string& from, const std::string& to) {
  if (Find(to) || IsFolder(to) || Links.contains(to)) {
    throw EQuillonError("Cannot move \"" + from + "\" to \"" + to + "\". File exists");
  }
  if (const auto file = Find(from)) {
    files_.erase(from);
    files_[to] = file;
    return;
  }
  if (!IsFolder(from)) {
    throw EQuillonError("Cannot move \"" + from + "\": No such file or directory");
  }
  for (auto it = files_.begin(); it != files_.end();) {
    if (const auto below = Below(it->first, from)) {
      files_[to + it->first.substr(from.size())] = it->second;
      it = files_.erase(it);
    } else {
      ++it;
    }
  }
  std::set<std::string> folders;
  for (const std::string& folder : folders_) {
    folders.insert(folder == from || Below(folder, from) ? to + folder.substr(from.size())
                                                         : folder);
  }
  folders_ = std::move(folders);
}

TPathFacts TMemoryFileSystem::Facts(const std::string& path) {
  const auto file = Find(path);
  if (!file && IsFolder(path)) return {TPathKind::Directory, {1, 0}, -1};
  if (!file) return {};
  TPathFacts facts;
  facts.Kind = file->IsDevice ? TPathKind::Device : TPathKind::File;
  facts.Identity = {1, file->Id};
  facts.Length = static_cast<std::int64_t>(file->Data.size());
  return facts;
}

void TMemoryFileSystem::Replace(const std::string& from, const std::string& to) {
  const auto file = Find(from);
  if (!file) throw EQuillonError("Cannot move \"" + from + "\": No such file or directory");
  files_.erase(from);
  files_[to] = file;
}

int TMemoryFileSystem::OpenStreams() const {
  int open = 0;
  for (const auto& [path, file] : files_) open += file->OpenCount;
  return open;
}

}  // namespace quillon::testing
