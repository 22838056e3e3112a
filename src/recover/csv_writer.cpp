#include <algorithm>
#include <cctype>

#include "core/csv_formula.h"
#include "core/errors.h"
#include "recover/jet_values.h"
#include "recover/table_output.h"

namespace quillon::recover {
namespace {

constexpr std::size_t kFlushAt = 1 << 20;

void AppendField(std::string& out, const std::string& text) {
  bool quoted = false;
  for (const char c : text) {
    if (c == ',' || c == '"' || c == '\r' || c == '\n') {
      quoted = true;
      break;
    }
  }
  if (!quoted) {
    out += text;
    return;
  }
  out.push_back('"');
  std::size_t from = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] != '"') continue;
    out.append(text, from, at + 1 - from);
    out.push_back('"');  // a quote is written twice
    from = at + 1;
  }
  out.append(text, from, std::string::npos);
  out.push_back('"');
}

std::string WriteErrorText(const std::string& path) {
  return "Cannot write file \"" + path + "\". The write fell short: the disk may be full.";
}

}  // namespace

std::string UniqueName(const std::string& name, std::set<std::string>& used) {
  auto folded = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  std::string candidate = name;
  for (int n = 2; !used.insert(folded(candidate)).second; ++n)
    candidate = name + " (" + std::to_string(n) + ")";
  return candidate;
}

TCsvWriter::TCsvWriter(IFileSystem& fileSystem, const std::string& systemPath,
                       const std::string& displayPath, const std::vector<TOutputColumn>& columns)
    : stream_(fileSystem.Open(systemPath, TOpenMode::CreateNew)), displayPath_(displayPath) {
  buffer_ = "\xEF\xBB\xBF";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (i > 0) buffer_.push_back(',');
    AppendField(buffer_, columns[i].Name);
    defuse_.push_back(columns[i].DefuseFormulas);
  }
  buffer_ += "\r\n";
}

TCsvWriter::~TCsvWriter() = default;

void TCsvWriter::Row(const std::vector<TValue>& values) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) buffer_.push_back(',');
    const TValue& value = values[i];
    switch (value.Kind) {
      case TValue::TKind::Null:
      case TValue::TKind::NotFound:
        break;
      case TValue::TKind::Integer:
        buffer_ += std::to_string(value.Integer);
        break;
      case TValue::TKind::Real:
        buffer_ += RealText(value.Real);
        break;
      case TValue::TKind::Text:
        if (i < defuse_.size() && defuse_[i] && ReadsAsFormula(value.Bytes)) {
          AppendField(buffer_, "'" + value.Bytes);
        } else {
          AppendField(buffer_, value.Bytes);
        }
        break;
      case TValue::TKind::Blob: {
        static constexpr char kHex[] = "0123456789abcdef";
        for (const char c : value.Bytes) {
          buffer_.push_back(kHex[static_cast<unsigned char>(c) >> 4]);
          buffer_.push_back(kHex[static_cast<unsigned char>(c) & 15]);
        }
        break;
      }
    }
  }
  buffer_ += "\r\n";
  if (buffer_.size() >= kFlushAt) Flush();
}

void TCsvWriter::Flush() {
  if (stream_->Write(buffer_.data(), buffer_.size()) != buffer_.size())
    throw EQuillonError(WriteErrorText(displayPath_));
  buffer_.clear();
}

void TCsvWriter::Finish() {
  Flush();
  if (!stream_->Flush()) throw EQuillonError(WriteErrorText(displayPath_));
  stream_.reset();
}

}  // namespace quillon::recover
