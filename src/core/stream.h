#pragma once
// The storage interface the engine works through: open a path in one of three modes,
// then read, write and seek on the stream. The platform layers implement it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/errors.h"

namespace quillon {

enum class TOpenMode {
  ReadShared,       // read only; others may read and write; the path must exist (sources)
  ReadWriteShared,  // read and write; others may read and write; must exist (drive probe)
  CreateExclusive,  // read and write, no sharing; created or truncated (the fragment file)
  CreateNew,        // read and write, no sharing; created, and refused when anything is
                    // already at the path (the partial file an output is written under)
};

// What is at a path, as far as the choice of an output cares.
enum class TPathKind {
  Missing,    // nothing: a file can be created there
  File,       // a regular file
  Directory,
  Device,     // a disk or a volume (a block device)
  CharacterDevice,  // a character device (/dev/zero, NUL): a stream without a size
  Other,      // a pipe, a socket: not a place to write a file to
};

// What tells one file from another across names and links: the volume (device) it lies on
// and its number there.
struct TFileIdentity {
  std::uint64_t Volume = 0;
  std::uint64_t Index = 0;
  bool operator==(const TFileIdentity&) const = default;
};

struct TPathFacts {
  TPathKind Kind = TPathKind::Missing;
  TFileIdentity Identity;    // for a file, a directory or a device
  std::int64_t Length = -1;  // for a file: its length in bytes
};

// One entry of a folder as it is, a link not followed.
struct TFolderEntry {
  std::string Name;                      // the system's bytes, without the folder
  TPathKind Kind = TPathKind::Missing;   // what the entry itself is; a link counts as Other
  bool IsLink = false;                   // a symbolic link or another reparse point
  TFileIdentity Identity;                // for a file or a folder that is no link
};

enum class TSeekOrigin { Begin, Current, End };

// Why the last read delivered fewer bytes than it was asked for.
enum class TReadFailure {
  None,        // nothing failed: the read reached the end of the source
  Unreadable,  // the medium could not deliver the bytes: a bad sector, say
  DeviceGone,  // the device has been removed or no longer answers at all
};

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

  // What made the last Read fall short of its count.
  virtual TReadFailure LastReadFailure() const { return TReadFailure::None; }

  // Reads must start and end at multiples of this: the sector size of a raw Windows disk
  // or volume handle; 1 where any offset and length will do.
  virtual std::size_t ReadAlignment() const { return 1; }

  // The first offset at or after from that may hold anything but zeros: a file system's
  // holes read as zeros and can be skipped. The source's length when nothing but a hole
  // follows; from itself when the system cannot tell. May move the position.
  virtual std::int64_t NextDataOffset(std::int64_t from) { return from; }

  // Brings what was written to stable storage. Returns false when that fails.
  virtual bool Flush() { return true; }

  // The system's text for the last failed read, write or flush ("No space left on
  // device"); empty when the system gave none.
  virtual std::string LastErrorText() const { return {}; }

  // The position at the end; the current position is restored afterwards.
  std::int64_t Length() {
    const std::int64_t here = Seek(0, TSeekOrigin::Current);
    const std::int64_t end = Seek(0, TSeekOrigin::End);
    if (here >= 0) Seek(here, TSeekOrigin::Begin);
    return end;
  }
};

// An advisory lock on a file, held from its taking until this object is destroyed or the
// process ends however it ends (a crash or a kill lets go of it with the process).
class TRunLock {
 public:
  virtual ~TRunLock() = default;
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

  // What is at path now; links are followed. Never throws.
  virtual TPathFacts Facts(const std::string& path) = 0;
  // path with every link along it followed to its end, also a link whose target does not
  // exist yet: the file that a write through path would reach. Never throws.
  virtual std::string FinalPath(const std::string& path) = 0;
  // The path to give a library that opens files by name itself, for a file made through Open
  // at path: where this file system keeps that file elsewhere, that place. Never throws.
  virtual std::string PathOfCreated(const std::string& path) { return path; }
  // Moves the file at from over to, replacing a file there, and brings the move to stable
  // storage. Throws EQuillonError naming both paths and the system's reason.
  virtual void Replace(const std::string& from, const std::string& to) = 0;
  // Removes the file at path. Returns false when that fails.
  virtual bool Remove(const std::string& path) = 0;

  // A path or another text of the system (a volume label, say) as UTF-8 for display.
  virtual std::string ToDisplayText(const std::string& systemText) { return systemText; }
  // A UTF-8 path as the system holds it; nothing when the system's code page cannot hold
  // one of its characters (a path must never reach the system with '?' in its place).
  virtual std::optional<std::string> FromDisplayText(const std::string& text) { return text; }

  // Creates a folder (a path as the system holds it); one that is already there is fine.
  // Throws EQuillonError with the create error text when it cannot be made. Does nothing
  // where files need no folders (in memory).
  virtual void CreateFolder(const std::string& /*path*/) {}

  // Takes the lock of the file at path for this process alone, creating the file where it is
  // missing: nothing when another run (another process, or another lock in this one) holds
  // it now. The file is removed when the lock is let go; one left by a power cut takes no
  // lock with it, and the next run takes it over. Throws EQuillonError naming path when it
  // cannot be created or opened, or holds something else than a lock. Where files are not
  // shared between processes (in memory, a test's fake), every lock is granted.
  virtual std::unique_ptr<TRunLock> TryLock(const std::string& /*path*/) {
    return std::make_unique<TRunLock>();
  }

  // The calls below are what a folder of outputs needs (recover's OUTDIR). A file system
  // that has no folders (a test's fake, the fuzzer's) refuses them all: nothing is ever
  // removed or moved where the call is not implemented.

  // The entries of the folder at path (without "." and ".."), links not followed; nothing
  // when it cannot be read. Never throws.
  virtual std::optional<std::vector<TFolderEntry>> ListFolder(const std::string& /*path*/) {
    return std::nullopt;
  }
  // Creates a folder that must not exist yet, only for the owner where the system has
  // owners: two runs that both try get it once. Throws EQuillonError with the create error.
  virtual void CreateNewFolder(const std::string& path) {
    throw EQuillonError("Cannot create the folder \"" + path + "\" here.");
  }
  // Removes the file, or with folder the empty folder, at base joined with relative ('/'
  // between its parts), following no link along relative: a link where a folder should be
  // is refused, a link at the end is removed itself, never what it points to. Gone already
  // is fine. Throws EQuillonError naming the path and the cause.
  virtual void RemoveBelow(const std::string& base, const std::string& relative,
                           bool /*folder*/) {
    throw EQuillonError("Cannot remove \"" + base + "/" + relative + "\" here.");
  }
  // Moves the file or folder at from to to, which must not exist: nothing is ever replaced,
  // also not a link put there meanwhile. Throws EQuillonError naming both and the cause.
  virtual void MoveNew(const std::string& from, const std::string& to) {
    throw EQuillonError("Cannot move \"" + from + "\" to \"" + to + "\" here.");
  }
};

}  // namespace quillon
