#include "core/scan_state.h"

#include <zlib.h>

#include <charconv>
#include <cstdio>
#include <limits>

namespace quillon {
namespace {

constexpr std::string_view kFirstLine = "quillon-scan-state";
constexpr std::string_view kComment =
    "# The state of an unfinished scan: \"quillon-cli scan --resume\" continues it. Do not "
    "edit.\n";

std::uint32_t Crc32Of(std::string_view text) {
  return static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
}

// Paths are the system's bytes and may hold anything, a line break included: hex keeps one
// value on one line.
std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

std::optional<std::string> FromHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
    if (ec != std::errc() || end != hex.data() + i + 2) return std::nullopt;
    out += static_cast<char>(value);
  }
  return out;
}

std::string Hex32(std::uint32_t v) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(v));
  return text;
}

// Reads the lines of a state file in their fixed order.
class TLines {
 public:
  explicit TLines(std::string_view text) : text_(text) {}

  // The value of the next line, which must be "key value"; nothing when it is not.
  std::optional<std::string_view> Next(std::string_view key) {
    if (at_ >= text_.size()) return std::nullopt;
    const std::size_t end = text_.find('\n', at_);
    if (end == std::string_view::npos) return std::nullopt;  // every line ends with one
    const std::string_view line = text_.substr(at_, end - at_);
    if (line.size() < key.size() + 1 || line.substr(0, key.size()) != key ||
        line[key.size()] != ' ') {
      return std::nullopt;
    }
    lineStart_ = at_;
    at_ = end + 1;
    return line.substr(key.size() + 1);
  }
  // The next line's value as convert reads it (an optional); nothing when the line is not
  // "key value" or convert refuses the value. The line is passed over either way when its
  // key is right, so that the lines after it are read in their order.
  template <typename TConvert>
  auto Field(std::string_view key, TConvert convert) -> decltype(convert(std::string_view())) {
    const std::optional<std::string_view> value = Next(key);
    if (!value) return std::nullopt;
    return convert(*value);
  }
  // Whether the next line begins with key and a space.
  bool NextIs(std::string_view key) const {
    const std::string_view rest = text_.substr(std::min(at_, text_.size()));
    return rest.size() > key.size() && rest.substr(0, key.size()) == key && rest[key.size()] == ' ';
  }
  std::size_t At() const { return at_; }
  // Where the line last read began.
  std::size_t LineStart() const { return lineStart_; }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
  std::size_t lineStart_ = 0;
};

std::optional<std::int64_t> Number(std::string_view text) {
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
  return value;
}

std::optional<std::uint32_t> Number32Hex(std::string_view text) {
  if (text.size() != 8) return std::nullopt;
  std::uint32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<TScanState> Refuse(std::string* problem, std::string text) {
  if (problem != nullptr) *problem = std::move(text);
  return std::nullopt;
}

}  // namespace

std::string FormatScanState(const TScanState& state) {
  std::string text(kComment);
  text += std::string(kFirstLine) + " " + std::to_string(kScanStateVersion) + "\n";
  text += "source-path " + Hex(state.SourcePath) + "\n";
  text += "source-size " + std::to_string(state.SourceSize) + "\n";
  text += "source-identity " + Hex(state.SourceIdentity) + "\n";
  const TRestartPoint& r = state.Restart;
  text += "reached " + std::to_string(r.SourceOffset) + "\n";
  text += "fragments " + std::to_string(r.Fragments) + "\n";
  text += "file-bytes " + std::to_string(r.FileBytes) + "\n";
  text += "file-crc32 " + Hex32(r.FileCrc32) + "\n";
  text += "body-adler32 " + Hex32(r.BodyAdler32) + "\n";
  for (const TByteRange& range : state.Unreadable) {
    text += "unreadable " + std::to_string(range.Offset) + " " + std::to_string(range.Length) +
            "\n";
  }
  text += "end " + Hex32(Crc32Of(text)) + "\n";
  return text;
}

std::optional<TScanState> ParseScanState(std::string_view text, std::string* problem) {
  if (text.size() > kMaxScanStateBytes) return Refuse(problem, "it is too large to be one");
  // The comment line is optional: only the keys after it count.
  std::size_t start = 0;
  if (text.substr(0, 1) == "#") {
    start = text.find('\n');
    if (start == std::string_view::npos) return Refuse(problem, "it is not a scan state file");
    ++start;
  }
  TLines lines(text.substr(start));
  const auto version = lines.Next(kFirstLine);
  if (!version) return Refuse(problem, "it is not a scan state file");
  if (*version != std::to_string(kScanStateVersion)) {
    // Only a number is repeated: the file's bytes never reach the terminal as they are.
    const bool number = !version->empty() && version->size() <= 9 &&
                        version->find_first_not_of("0123456789") == std::string_view::npos;
    return Refuse(problem, "it is of " +
                               (number ? "version " + std::string(*version) : "another version") +
                               ", which this program does not read (it reads version " +
                               std::to_string(kScanStateVersion) + ")");
  }
  const std::string cut = "it is cut short or damaged";
  TScanState state;
  const auto path = lines.Field("source-path", FromHex);
  const auto size = lines.Field("source-size", Number);
  const auto identity = lines.Field("source-identity", FromHex);
  if (!path || !size || !identity) return Refuse(problem, cut);
  state.SourcePath = *path;
  state.SourceSize = *size;
  state.SourceIdentity = *identity;

  const auto reached = lines.Field("reached", Number);
  const auto fragments = lines.Field("fragments", Number);
  const auto fileBytes = lines.Field("file-bytes", Number);
  const auto fileCrc = lines.Field("file-crc32", Number32Hex);
  const auto adler = lines.Field("body-adler32", Number32Hex);
  if (!reached || !fragments || !fileBytes || !fileCrc || !adler) return Refuse(problem, cut);
  state.Restart = {*reached, *fragments, *fileBytes, *fileCrc, *adler};

  std::int64_t previousEnd = 0;
  while (lines.NextIs("unreadable")) {
    const std::optional<std::string_view> line = lines.Next("unreadable");
    if (!line) return Refuse(problem, cut);  // the last line without its line break
    const std::string_view value = *line;
    const std::size_t space = value.find(' ');
    const auto offset = space == std::string_view::npos ? std::nullopt : Number(value.substr(0, space));
    const auto length =
        space == std::string_view::npos ? std::nullopt : Number(value.substr(space + 1));
    if (!offset || !length) return Refuse(problem, cut);
    if (*length == 0 || *offset < previousEnd || *length > state.Restart.SourceOffset - *offset) {
      return Refuse(problem, "its unreadable ranges are out of order or beyond the offset reached");
    }
    state.Unreadable.push_back({*offset, *length});
    previousEnd = *offset + *length;
  }
  const auto endValue = lines.Field("end", Number32Hex);
  if (!endValue) return Refuse(problem, cut);
  if (start + lines.At() != text.size()) return Refuse(problem, "it holds more after its end");
  if (*endValue != Crc32Of(text.substr(0, start + lines.LineStart()))) {
    return Refuse(problem, "its checksum does not match its contents (it was changed or damaged)");
  }
  // Values that no scan writes.
  if (state.Restart.SourceOffset > state.SourceSize || state.Restart.Fragments < 0 ||
      state.Restart.FileBytes < 512 ||
      state.Restart.Fragments > std::numeric_limits<std::int64_t>::max() / 4096) {
    return Refuse(problem, "its restart point is not one a scan writes");
  }
  return state;
}

}  // namespace quillon
