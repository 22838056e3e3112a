// SQLite writes the database file through a VFS of our own over IFileSystem, so that the
// file is opened with the same checks as every other output and memory stays bounded by
// SQLite's page cache. There is no journal: a file that fails half way is reported, never
// called complete, and a new recovery writes it again.

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <stdexcept>

#include "core/errors.h"
#include "recover/table_output.h"

namespace quillon::recover {
namespace {

struct TVfsFile {
  sqlite3_file Base;  // first: SQLite sees this struct as an sqlite3_file
  TStream* Stream;
  bool* WriteFailed;
};

struct TVfsContext {
  IFileSystem* FileSystem;
  std::unique_ptr<TStream>* Stream;  // the one file it opens, owned by the writer
  bool* WriteFailed;
  std::string* OpenError;
};

TVfsFile* AsFile(sqlite3_file* file) { return reinterpret_cast<TVfsFile*>(file); }

int FileClose(sqlite3_file*) { return SQLITE_OK; }

int FileRead(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
  TStream* stream = AsFile(file)->Stream;
  if (stream->Seek(offset, TSeekOrigin::Begin) != offset) return SQLITE_IOERR_READ;
  std::size_t got = 0;
  while (got < static_cast<std::size_t>(amount)) {
    const std::size_t n = stream->Read(static_cast<char*>(buffer) + got, amount - got);
    if (n == 0) break;
    got += n;
  }
  if (got < static_cast<std::size_t>(amount)) {
    std::memset(static_cast<char*>(buffer) + got, 0, amount - got);
    return SQLITE_IOERR_SHORT_READ;
  }
  return SQLITE_OK;
}

int FileWrite(sqlite3_file* file, const void* buffer, int amount, sqlite3_int64 offset) {
  TVfsFile* f = AsFile(file);
  if (f->Stream->Seek(offset, TSeekOrigin::Begin) != offset ||
      f->Stream->Write(buffer, amount) != static_cast<std::size_t>(amount)) {
    *f->WriteFailed = true;
    return SQLITE_FULL;
  }
  return SQLITE_OK;
}

int FileTruncate(sqlite3_file*, sqlite3_int64) { return SQLITE_OK; }  // never shrinks: no vacuum

int FileSync(sqlite3_file* file, int) {
  TVfsFile* f = AsFile(file);
  if (f->Stream->Flush()) return SQLITE_OK;
  *f->WriteFailed = true;
  return SQLITE_IOERR_FSYNC;
}

int FileSize(sqlite3_file* file, sqlite3_int64* size) {
  const std::int64_t length = AsFile(file)->Stream->Length();
  if (length < 0) return SQLITE_IOERR_FSTAT;
  *size = length;
  return SQLITE_OK;
}

int FileLock(sqlite3_file*, int) { return SQLITE_OK; }
int FileCheckReservedLock(sqlite3_file*, int* out) {
  *out = 0;
  return SQLITE_OK;
}
int FileControl(sqlite3_file*, int, void*) { return SQLITE_NOTFOUND; }
int FileSectorSize(sqlite3_file*) { return 4096; }
int FileDeviceCharacteristics(sqlite3_file*) { return 0; }

const sqlite3_io_methods kFileMethods = {
    1,
    FileClose,
    FileRead,
    FileWrite,
    FileTruncate,
    FileSync,
    FileSize,
    FileLock,
    FileLock,
    FileCheckReservedLock,
    FileControl,
    FileSectorSize,
    FileDeviceCharacteristics,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

int VfsOpen(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags, int* outFlags) {
  auto* context = static_cast<TVfsContext*>(vfs->pAppData);
  file->pMethods = nullptr;
  // Only the database itself: the journal is off and temporary data stays in memory.
  if (name == nullptr || (flags & SQLITE_OPEN_MAIN_DB) == 0 || *context->Stream)
    return SQLITE_CANTOPEN;
  try {
    *context->Stream = context->FileSystem->Open(name, TOpenMode::CreateNew);
  } catch (const EQuillonError& error) {
    *context->OpenError = error.what();
    return SQLITE_CANTOPEN;
  }
  TVfsFile* f = AsFile(file);
  f->Stream = context->Stream->get();
  f->WriteFailed = context->WriteFailed;
  file->pMethods = &kFileMethods;
  if (outFlags != nullptr) *outFlags = flags;
  return SQLITE_OK;
}

int VfsDelete(sqlite3_vfs*, const char*, int) { return SQLITE_OK; }
int VfsAccess(sqlite3_vfs*, const char*, int, int* out) {
  *out = 0;  // no journal is ever there
  return SQLITE_OK;
}
int VfsFullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
  if (static_cast<int>(std::strlen(name)) >= size) return SQLITE_CANTOPEN;
  std::strcpy(out, name);
  return SQLITE_OK;
}
int VfsRandomness(sqlite3_vfs*, int n, char* out) {
  std::memset(out, 0, n);
  return n;
}
int VfsSleep(sqlite3_vfs*, int micro) { return micro; }
int VfsCurrentTime(sqlite3_vfs*, double* now) {
  *now = 2440587.5;  // the file records no times
  return SQLITE_OK;
}
int VfsLastError(sqlite3_vfs*, int, char*) { return 0; }

std::string Quoted(const std::string& name) {
  std::string out = "\"";
  for (const char c : name) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  return out + "\"";
}

}  // namespace

std::string DeclaredTypeOf(const TColumn& column) {
  switch (column.Type) {
    case TColumnType::YesNo:
      return "YESNO";
    case TColumnType::Byte:
      return "BYTE";
    case TColumnType::Integer:
      return "INTEGER";
    case TColumnType::Long:
      return "LONG";
    case TColumnType::Currency:
      return "CURRENCY TEXT";
    case TColumnType::Single:
      return "REAL";
    case TColumnType::Double:
      return "DOUBLE";
    case TColumnType::DateTime:
    case TColumnType::ExtendedDate:  // decoded to the same text as a date/time
      return "DATETIME";
    case TColumnType::Binary:
      return "BINARY(" + std::to_string(column.Size) + ")";
    case TColumnType::Text:
      return "TEXT(" + std::to_string(column.Size / 2) + ")";
    case TColumnType::Ole:
      return "OLEOBJECT";
    case TColumnType::Memo:
      return "LONGTEXT";
    case TColumnType::Guid:
      return "GUID";
    case TColumnType::Decimal:
      return "DECIMAL TEXT(" + std::to_string(column.Precision) + "," +
             std::to_string(column.Scale) + ")";
    case TColumnType::Complex:
      return "COMPLEX";
    case TColumnType::BigInt:
      return "BIGINT";
    case TColumnType::Unknown0D:
    case TColumnType::Unknown11:
      return "BINARY(" + std::to_string(column.Size) + ")";
  }
  return "";
}

struct TSqliteWriter::TState {
  std::string DisplayPath;
  std::unique_ptr<TStream> Stream;
  bool WriteFailed = false;
  std::string OpenError;
  TVfsContext Context{};
  sqlite3_vfs Vfs{};
  std::string VfsName;
  bool Registered = false;
  sqlite3* Db = nullptr;
  sqlite3_stmt* Insert = nullptr;
  std::size_t Columns = 0;

  [[noreturn]] void Fail(const char* what) {
    std::string text;
    if (!OpenError.empty()) {
      text = OpenError;
    } else if (WriteFailed) {
      text =
          "Cannot write file \"" + DisplayPath + "\". The write fell short: the disk may be full.";
    } else {
      text = "Cannot write file \"" + DisplayPath + "\". SQLite: " + what;
    }
    throw EQuillonError(text);
  }

  void Exec(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(Db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      const std::string text = message != nullptr ? message : sqlite3_errmsg(Db);
      sqlite3_free(message);
      Fail(text.c_str());
    }
  }

  void Close() {
    if (Insert != nullptr) sqlite3_finalize(Insert);
    Insert = nullptr;
    if (Db != nullptr) sqlite3_close(Db);
    Db = nullptr;
    if (Registered) sqlite3_vfs_unregister(&Vfs);
    Registered = false;
    Stream.reset();
  }
};

TSqliteWriter::TSqliteWriter(IFileSystem& fileSystem, const std::string& systemPath,
                             const std::string& displayPath)
    : state_(std::make_unique<TState>()) {
  static std::atomic<unsigned> serial{0};
  TState& s = *state_;
  s.DisplayPath = displayPath;
  s.Context = {&fileSystem, &s.Stream, &s.WriteFailed, &s.OpenError};
  s.VfsName = "quillon-" + std::to_string(++serial);
  s.Vfs.iVersion = 1;
  s.Vfs.szOsFile = sizeof(TVfsFile);
  s.Vfs.mxPathname = 4096;
  s.Vfs.zName = s.VfsName.c_str();
  s.Vfs.pAppData = &s.Context;
  s.Vfs.xOpen = VfsOpen;
  s.Vfs.xDelete = VfsDelete;
  s.Vfs.xAccess = VfsAccess;
  s.Vfs.xFullPathname = VfsFullPathname;
  s.Vfs.xRandomness = VfsRandomness;
  s.Vfs.xSleep = VfsSleep;
  s.Vfs.xCurrentTime = VfsCurrentTime;
  s.Vfs.xGetLastError = VfsLastError;
  if (sqlite3_vfs_register(&s.Vfs, 0) != SQLITE_OK) s.Fail("cannot register its file layer");
  s.Registered = true;
  const int opened = sqlite3_open_v2(systemPath.c_str(), &s.Db,
                                     SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, s.VfsName.c_str());
  if (opened != SQLITE_OK) {
    const std::string text = s.Db != nullptr ? sqlite3_errmsg(s.Db) : "cannot open";
    s.Close();
    s.Fail(text.c_str());
  }
  try {
    s.Exec(
        "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA locking_mode=EXCLUSIVE;"
        "PRAGMA temp_store=MEMORY; PRAGMA cache_size=-16384; PRAGMA page_size=4096;"
        "BEGIN");
  } catch (...) {
    s.Close();
    throw;
  }
}

TSqliteWriter::~TSqliteWriter() { state_->Close(); }

bool TSqliteWriter::Broken() const {
  return state_->WriteFailed || !state_->OpenError.empty() || state_->Db == nullptr;
}

void TSqliteWriter::BeginTable(const std::string& name, const std::vector<TOutputColumn>& columns) {
  TState& s = *state_;
  if (s.Insert != nullptr) sqlite3_finalize(s.Insert);
  s.Insert = nullptr;
  std::string create = "CREATE TABLE " + Quoted(name) + " (";
  std::string insert = "INSERT INTO " + Quoted(name) + " VALUES (";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (i > 0) {
      create += ", ";
      insert += ",";
    }
    create += Quoted(columns[i].Name);
    if (!columns[i].DeclaredType.empty()) create += " " + columns[i].DeclaredType;
    insert += "?";
  }
  s.Exec(create + ")");
  if (sqlite3_prepare_v2(s.Db, (insert + ")").c_str(), -1, &s.Insert, nullptr) != SQLITE_OK)
    s.Fail(sqlite3_errmsg(s.Db));
  s.Columns = columns.size();
}

void TSqliteWriter::Insert(const std::vector<TValue>& values) {
  TState& s = *state_;
  sqlite3_reset(s.Insert);
  for (std::size_t i = 0; i < s.Columns; ++i) {
    const int at = static_cast<int>(i) + 1;
    const TValue* value = i < values.size() ? &values[i] : nullptr;
    int rc = SQLITE_OK;
    if (value == nullptr) {
      rc = sqlite3_bind_null(s.Insert, at);
    } else {
      switch (value->Kind) {
        case TValue::TKind::Null:
        case TValue::TKind::NotFound:
          rc = sqlite3_bind_null(s.Insert, at);
          break;
        case TValue::TKind::Integer:
          rc = sqlite3_bind_int64(s.Insert, at, value->Integer);
          break;
        case TValue::TKind::Real:
          rc = sqlite3_bind_double(s.Insert, at, value->Real);
          break;
        case TValue::TKind::Text:
          rc = sqlite3_bind_text64(s.Insert, at, value->Bytes.data(), value->Bytes.size(),
                                   SQLITE_STATIC, SQLITE_UTF8);
          break;
        case TValue::TKind::Blob:
          rc = sqlite3_bind_blob64(s.Insert, at, value->Bytes.data(), value->Bytes.size(),
                                   SQLITE_STATIC);
          break;
      }
    }
    if (rc != SQLITE_OK) s.Fail(sqlite3_errmsg(s.Db));
  }
  if (sqlite3_step(s.Insert) != SQLITE_DONE) s.Fail(sqlite3_errmsg(s.Db));
}

void TSqliteWriter::Finish() {
  TState& s = *state_;
  if (s.Insert != nullptr) sqlite3_finalize(s.Insert);
  s.Insert = nullptr;
  s.Exec("COMMIT");
  if (s.Stream && !s.Stream->Flush()) {
    s.WriteFailed = true;
    s.Fail("flush");
  }
  const int closed = sqlite3_close(s.Db);
  s.Db = nullptr;
  if (closed != SQLITE_OK || s.WriteFailed) s.Fail("close");
  s.Close();
}

}  // namespace quillon::recover
