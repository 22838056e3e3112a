#include "support/memory_file_system.h"

#include <algorithm>
#include <cstring>

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
    if (file_->ReadLimit >= 0) n = std::min(n, static_cast<std::size_t>(file_->ReadLimit));
    const auto size = static_cast<std::int64_t>(file_->Data.size());
    if (position_ >= size) return 0;
    const std::size_t got = std::min<std::size_t>(n, static_cast<std::size_t>(size - position_));
    std::memcpy(buffer, file_->Data.data() + position_, got);
    position_ += static_cast<std::int64_t>(got);
    return got;
  }

  std::size_t Write(const void* buffer, std::size_t n) override {
    file_->WriteSizes.push_back(n);
    std::size_t accepted = n;
    if (file_->WriteLimit >= 0) {
      accepted = std::min<std::size_t>(n, static_cast<std::size_t>(file_->WriteLimit));
      file_->WriteLimit -= static_cast<std::int64_t>(accepted);
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
};

}  // namespace

std::unique_ptr<TStream> TMemoryFileSystem::Open(const std::string& path, TOpenMode mode) {
  auto file = Find(path);
  if (mode == TOpenMode::CreateExclusive) {
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
  files_[path] = file;
  return file;
}

std::shared_ptr<TMemoryFile> TMemoryFileSystem::Find(const std::string& path) const {
  const auto it = files_.find(path);
  return it == files_.end() ? nullptr : it->second;
}

int TMemoryFileSystem::OpenStreams() const {
  int open = 0;
  for (const auto& [path, file] : files_) open += file->OpenCount;
  return open;
}

}  // namespace quillon::testing
