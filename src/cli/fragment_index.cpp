#include "cli/fragment_index.h"

#include <cstring>

#include "core/errors.h"
#include "core/page_head.h"

namespace quillon {
namespace {

constexpr std::size_t kWriteSize = 65536;

}  // namespace

std::string FragmentIndexLine(std::int64_t number, std::int64_t offset,
                              std::span<const std::uint8_t, kFragmentSize> fragment) {
  PageHead head;
  std::memcpy(&head, fragment.data(), sizeof head);
  const bool longValue = head.OwnerPage == kLvalOwner;
  return std::to_string(number) + '\t' + std::to_string(offset) + '\t' +
         (longValue ? "LVAL" : "data") + '\t' +
         (longValue ? std::string("-") : std::to_string(head.OwnerPage)) + '\t' +
         std::to_string(head.RowCount);
}

bool IsFragmentIndexFile(IFileSystem& fileSystem, const std::string& path) {
  try {
    const std::unique_ptr<TStream> file = fileSystem.Open(path, TOpenMode::ReadShared);
    char head[64] = {};
    const std::size_t got = file->Read(head, sizeof head);
    if (got == 0) return true;
    // "0<TAB>offset<TAB>data" or "...LVAL": the first line of every index.
    const std::string text(head, got);
    const std::size_t tab1 = text.find('\t');
    const std::size_t tab2 = text.find('\t', tab1 + 1);
    return text.rfind("0\t", 0) == 0 && tab2 != std::string::npos &&
           text.find_first_not_of("0123456789", tab1 + 1) == tab2 &&
           (text.compare(tab2 + 1, 5, "data\t") == 0 || text.compare(tab2 + 1, 5, "LVAL\t") == 0);
  } catch (const EQuillonError&) {
    return false;
  }
}

void TFragmentIndexWriter::Create(const std::string& path) {
  pending_.clear();
  failed_ = false;
  failure_.clear();
  file_.Create(path);
}

void TFragmentIndexWriter::Add(std::int64_t number, std::int64_t offset,
                               std::span<const std::uint8_t, kFragmentSize> fragment) {
  if (!file_.IsOpen() || failed_) return;
  pending_ += FragmentIndexLine(number, offset, fragment);
  pending_ += '\n';
  if (pending_.size() >= kWriteSize) WritePending();
}

void TFragmentIndexWriter::WritePending() {
  if (failed_ || pending_.empty()) return;
  if (file_.Stream().Write(pending_.data(), pending_.size()) != pending_.size()) {
    failed_ = true;
    failure_ = file_.Stream().LastErrorText();
  }
  pending_.clear();
}

void TFragmentIndexWriter::Commit() {
  if (!file_.IsOpen()) return;
  WritePending();
  if (!failed_ && !file_.Stream().Flush()) {
    failed_ = true;
    failure_ = file_.Stream().LastErrorText();
  }
  if (failed_) {
    file_.Close();
    throw EWriteError(file_.PartialPath(), failure_);
  }
  file_.Commit();
}

void TFragmentIndexWriter::Close() {
  if (!file_.IsOpen()) return;
  WritePending();
  file_.Close();
}

void TFragmentIndexWriter::Discard(IFileSystem& fileSystem) {
  if (!file_.IsOpen()) return;
  file_.Close();
  fileSystem.Remove(file_.PartialPath());
}

}  // namespace quillon
