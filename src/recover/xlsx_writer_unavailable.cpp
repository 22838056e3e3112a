// The workbook where this build has no workbook library (the Windows build, until the
// library is compiled in there as SQLite is): none is written, and recovery is told so.
#include "core/errors.h"
#include "recover/xlsx_writer.h"

namespace quillon::recover {

struct TXlsxWriter::TState {};

bool WorkbooksWritten() { return false; }

TXlsxWriter::TXlsxWriter(IFileSystem&, const std::string&, const std::string& displayPath,
                         std::size_t) {
  throw EQuillonError("Cannot write file \"" + displayPath +
                      "\": this build of Quillon writes no workbooks.");
}

TXlsxWriter::~TXlsxWriter() = default;
void TXlsxWriter::BeginTable(const std::string&, const std::vector<TOutputColumn>&) {}
void TXlsxWriter::Insert(const std::vector<TValue>&) {}
void TXlsxWriter::Finish() {}

}  // namespace quillon::recover
