#include "cli/fragment_index.h"

#include <cerrno>
#include <cstring>

#include "core/page_head.h"

namespace quillon {

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

TFragmentIndexWriter::~TFragmentIndexWriter() { Close(); }

bool TFragmentIndexWriter::Create(const std::string& path) {
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) failure_ = std::strerror(errno);
  return file_ != nullptr;
}

void TFragmentIndexWriter::Add(std::int64_t number, std::int64_t offset,
                               std::span<const std::uint8_t, kFragmentSize> fragment) {
  if (file_ == nullptr || !failure_.empty()) return;
  const std::string line = FragmentIndexLine(number, offset, fragment) + '\n';
  if (std::fwrite(line.data(), 1, line.size(), file_) != line.size()) {
    failure_ = std::strerror(errno);
  }
}

bool TFragmentIndexWriter::Close() {
  if (file_ == nullptr) return failure_.empty();
  if (std::fclose(file_) != 0 && failure_.empty()) failure_ = std::strerror(errno);
  file_ = nullptr;
  return failure_.empty();
}

}  // namespace quillon
