#pragma once
// One file per origin along a run: the rule by which pieces of one run that would go to
// different databases from one origin give way (see PiecesGivingWay).

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace quillon::recover {

// A run of the source and an origin on it: where page 0 of the file whose pages lie along
// the run at their own numbers would lie.
using TRunOrigin = std::pair<std::size_t, std::int64_t>;

// A piece that placing would give to Database, numbered from Origin.
struct TPieceClaim {
  std::size_t Database = 0;
  TRunOrigin Origin;
};

// Each cluster holds one file's page, so two files cannot both lie at their own numbers
// from one origin along one run: pieces of one run that would go to different databases
// from one origin are pieces of one file, and at most one of those databases is right (a
// table of one design sits at the same page number in many files, its definition, map and
// rows all in the piece, and a catalog that lost the table's row does not name it). The
// database that the run's pages at that origin were placed in before (`placedBefore`) is
// the one, alone or against rivals, but for the databases `beside` lists for the claim;
// failing that, the one to which more of the pieces go; failing both, none.
// `beside` (per claim, or empty): databases placed before at its origin whose pages there
// lie all before its piece or all after it along the run, and that its stretch is not: they
// hold pages of their own, elsewhere, at numbers the piece would take; or a page between
// theirs and the piece says it is not theirs; or the piece holds a definition at a number
// that their whole catalog names no table at. Another file's piece can begin right where
// one file's piece ends, at the next number: only interleaved are two files impossible.
// True for each claim that gives way.
std::vector<bool> PiecesGivingWay(const std::vector<TPieceClaim>& claims,
                                  const std::map<TRunOrigin, std::set<std::size_t>>& placedBefore,
                                  const std::vector<std::set<std::size_t>>& beside = {});

}  // namespace quillon::recover
