#pragma once
// How a pointer of the lost database was matched to the rows in the fragment file.

#include <cstdint>

namespace quillon {

enum class TMatchStatus : std::uint8_t {
  Found,      // one row (or chain of rows) fits, or all that fit hold the same bytes
  NotFound,   // nothing in the file fits: the page was not found by the scan, or was reused
  Ambiguous,  // several fit with different bytes and nothing decides between them
};

const char* MatchStatusName(TMatchStatus status);

// How far a match may go when several rows fit with different bytes.
enum class TMatchRule : std::uint8_t {
  Certain,     // never: the pointer stays ambiguous (perhaps until more pages are numbered)
  Neighbours,  // take the one that the numbered pages next to it support best, if one is
};

}  // namespace quillon
