#include "recover/run_origins.h"

namespace quillon::recover {

std::vector<bool> PiecesGivingWay(const std::vector<TPieceClaim>& claims,
                                  const std::map<TRunOrigin, std::set<std::size_t>>& placedBefore,
                                  const std::vector<std::set<std::size_t>>& beside) {
  std::map<TRunOrigin, std::map<std::size_t, std::size_t>> piecesOf;  // → database → pieces
  for (const TPieceClaim& claim : claims) ++piecesOf[claim.Origin][claim.Database];
  std::vector<bool> givesWay(claims.size(), false);
  for (std::size_t c = 0; c < claims.size(); ++c) {
    const TPieceClaim& claim = claims[c];
    const auto before = placedBefore.find(claim.Origin);
    std::set<std::size_t> placed;  // the databases placed before whose stretch it can be
    if (before != placedBefore.end()) {
      for (const std::size_t database : before->second) {
        if (c >= beside.size() || !beside[c].contains(database)) placed.insert(database);
      }
    }
    if (!placed.empty()) {
      givesWay[c] = placed.size() != 1 || !placed.contains(claim.Database);
      continue;
    }
    const std::map<std::size_t, std::size_t>& databases = piecesOf.at(claim.Origin);
    if (databases.size() < 2) continue;  // one database asks for that stretch: no rivals
    std::size_t most = 0, with = 0;  // the most pieces one database has, and how many have it
    for (const auto& [database, pieces] : databases) {
      if (pieces > most) {
        most = pieces;
        with = 1;
      } else if (pieces == most) {
        ++with;
      }
    }
    givesWay[c] = with != 1 || databases.at(claim.Database) != most;
  }
  return givesWay;
}

}  // namespace quillon::recover
