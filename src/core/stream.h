#pragma once
// The storage interface the engine works through: open a path in one of three modes,
// then read, write and seek on the stream. The platform layers implement it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace quillon {

enum class TOpenMode {
  ReadShared,       // read only; others may read and write; the path must exist (sources)
  ReadWriteShared,  // read and write; others may read and write; must exist (drive probe)
  CreateExclusive,  // read and write, no sharing; created or truncated (the fragment file)
};

enum class TSeekOrigin { Begin, Current, End };

class TStream {
 public:
  virtual ~TStream() = default;

  // Reads up to n bytes at the current position. Never throws.
  // Returns the number of bytes really read: 0 at the end or when the read fails.
  virtual std::size_t Read(void* buffer, std::size_t n) = 0;

  // Writes n bytes at the current position. Never throws.
  // Returns the number of bytes really written; fewer than n means the write failed.
  virtual std::size_t Write(const void* buffer, std::size_t n) = 0;

  // Moves the position. Returns the new position, or -1 when the move fails.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;

  // The position at the end; the current position is restored afterwards.
  std::int64_t Length() {
    const std::int64_t here = Seek(0, TSeekOrigin::Current);
    const std::int64_t end = Seek(0, TSeekOrigin::End);
    if (here >= 0) Seek(here, TSeekOrigin::Begin);
    return end;
  }
};

// Paths are held as the system's own bytes: on Windows text in the ANSI code page, which the
// ANSI file calls take and the fragment file's header records; elsewhere UTF-8. Everything a
// person reads (log lines, messages, error texts, menu captions) is UTF-8, and the front ends
// show it as such. The file system converts between the two.
class IFileSystem {
 public:
  virtual ~IFileSystem() = default;

  // Opens path in the given mode. Throws EQuillonError with the open or create error text
  // (the full path and the system's reason, as display text). The stream closes itself when
  // destroyed.
  virtual std::unique_ptr<TStream> Open(const std::string& path, TOpenMode mode) = 0;

  // A path or another text of the system (a volume label, say) as UTF-8 for display.
  virtual std::string ToDisplayText(const std::string& systemText) { return systemText; }
  // A UTF-8 path as the system holds it; nothing when the system's code page cannot hold
  // one of its characters (a path must never reach the system with '?' in its place).
  virtual std::optional<std::string> FromDisplayText(const std::string& text) { return text; }
};

}  // namespace quillon
