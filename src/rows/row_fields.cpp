#include <string>

#include "rows/row_fields.h"

namespace quillon {
namespace {

const char* StorageName(TLongValueKind kind) {
  switch (kind) {
    case TLongValueKind::Inline: return "inline";
    case TLongValueKind::SingleRow: return "one LVAL row";
    case TLongValueKind::Chain: return "a chain of LVAL rows";
  }
  return "inline";
}

std::string PointerText(TRowPointer where) {
  return "page " + std::to_string(where.Page) + " row " + std::to_string(where.Row);
}

void AddNote(std::string& notes, const std::string& note) {
  notes += (notes.empty() ? "" : "; ") + note;
}

}  // namespace

std::string SlotReference(std::uint64_t fragment, std::uint16_t row) {
  return "f" + std::to_string(fragment) + "r" + std::to_string(row);
}

std::string RowReference(const TRecoveredRow& row) {
  return SlotReference(row.Fragment, row.Row);
}

const char* RowStateName(TRowState state) {
  switch (state) {
    case TRowState::Live: return "live";
    case TRowState::Deleted: return "deleted";
    case TRowState::Moved: return "moved";
  }
  return "live";
}

std::string ValueFieldText(const TRecoveredValue& value) {
  switch (value.Kind) {
    case TValueKind::Empty: return {};
    case TValueKind::Text: return value.Text;
    case TValueKind::Hex: return "0x" + value.Text;
    case TValueKind::LongValue:
      if (value.Status != TMatchStatus::Found) return {};
      return value.LongIsText ? value.Text : "0x" + value.Text;
  }
  return {};
}

std::string RowNotes(const TRecoveredRow& row) {
  std::string notes;
  if (row.Moved) {
    const std::string target = "moved to " + PointerText(row.MovedTo) + " of the lost database";
    switch (row.MoveStatus) {
      case TMatchStatus::Found: break;  // not listed: its data is
      case TMatchStatus::NotFound: AddNote(notes, target + ", which is not in the file"); break;
      case TMatchStatus::Ambiguous:
        AddNote(notes, target + ": " + std::to_string(row.MoveCandidates) +
                           " rows fit, none for certain; each is listed where it lies");
        break;
    }
  }
  if (row.MovedData) {
    AddNote(notes, row.PointerKnown
                       ? "moved here from " + SlotReference(row.PointerFragment, row.PointerRow)
                       : std::string("the data of a moved row"));
  }
  for (std::size_t k = 0; k < row.Values.size(); ++k) {
    const TRecoveredValue& value = row.Values[k];
    if (value.Kind != TValueKind::LongValue || value.Status == TMatchStatus::Found) continue;
    const std::string what = "var" + std::to_string(k + 1) + ": memo/OLE value of " +
                             std::to_string(value.Length) + " bytes in " +
                             StorageName(value.LongKind) + " at " + PointerText(value.Where);
    if (value.Status == TMatchStatus::NotFound) {
      AddNote(notes, what + ", not in the file");
    } else {
      AddNote(notes, what + ": " + std::to_string(value.Candidates) +
                         " different values fit, none for certain");
    }
  }
  return notes;
}

}  // namespace quillon
