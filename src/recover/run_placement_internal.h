#pragma once
// What the files of run placement share: the placer, its databases being built, and the
// limits of its work. PlaceRuns (run_placement.h) is the only way in; nothing else includes
// this.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>
#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>

#include "recover/run_placement.h"
#include "jet/catalog.h"
#include "jet/row_slots.h"
#include "jet/table_definition.h"
#include "jet/usage_map.h"
#include "recover/page_slots.h"
#include "recover/run_origins.h"

namespace quillon::recover::placement {


struct TPlacementStopped {};

constexpr std::int64_t kPage = static_cast<std::int64_t>(kPageSize);
constexpr std::size_t kMaxDefinitionPages = 64;
// The system tables' definitions lie at pages 2 to 5: a base whose page 0 and 1 are lost
// has its home from the first of them that is left.
constexpr std::int64_t kLastSystemPage = 5;
// Pages that a database's own stretch can lack in the store (index pages are not kept): a
// run goes on over a gap this wide at most.
constexpr std::int64_t kMaxGapPages = 96;
// A base from votes alone has its home at its first page within this many pages of it.
constexpr std::int64_t kMaxVotedHomeGap = 64;
// Rounds of placing pieces: a piece placed can hold the definition or the usage map by
// which the next is placed, so the rounds go on until one places nothing more. Each round
// that goes on has placed at least one piece, which no later round moves, so the rounds end
// by themselves; the cap only bounds the work on a source of very many small pieces.
constexpr int kMaxPlacingRounds = 64;
// Page numbers a piece may start at, tried per piece: a usage map lists at most this many
// places for the piece's first page of its table (bounds the work on a huge table).
constexpr std::size_t kMaxStartsTried = 1 << 16;
// Pages judged at all the places tried for one piece, at most.
constexpr std::size_t kMaxPlacingWork = 1 << 24;
// Long values of a piece's own rows that must be found at a place to place it by them
// (see PlaceByOwnLongValues), and the places tried for one piece at most.
constexpr std::size_t kMinOwnLongValues = 2;
constexpr std::size_t kMaxOwnLongValuePlaces = 256;
constexpr std::size_t kOwnLongValueGuides = 64;
// Times a piece that no single place holds is cut at its widest gap and tried again.
constexpr int kMaxSplits = 4;
// Pages of each table in a piece whose maps give the places tried.
constexpr int kGuidesPerTable = 4;
// Pages of a table judged against a definition found beside them.
constexpr std::size_t kPagesJudged = 4;
// Loose data pages of one owner value judged against a definition lying apart: every one,
// up to this many. Loose pages of one owner value can be two databases' (a table at the
// same page number in each), and a definition must fit them all to be tied to either.
constexpr std::size_t kLoosePagesJudged = 64;
// Data pages of a loose run that must repeat rows of a database's placed pages, at one
// origin, for the run to be another copy of that database (see CopyOriginOf).
constexpr std::size_t kMinCopyRepeats = 2;
// Placed pages read per round to look for copies, at most (64 MiB of rows held): the rows
// of the tables that loose runs hold. Past it, no copy is looked for that round, and the
// pieces are planned as before (bounds the work on a huge source in many pieces).
constexpr std::size_t kMaxCopyPagesRead = 1 << 14;
// How many more stale pages every other place for a piece must make than the one chosen,
// where that one makes some: Access leaves stale pages among a table's own, so the right
// place need not make none.
constexpr std::size_t kStaleMargin = 2;

inline bool IsLongValuePage(const TPageEntry& entry) {
  return entry.Kind == TPageKind::Data && entry.Owner == jet::kLvalOwner;
}

// A data page of a table (not LVAL, not the catalog's own page 0 or 1).
inline bool IsTablePage(const TPageEntry& entry) {
  return entry.Kind == TPageKind::Data && entry.Owner != jet::kLvalOwner && entry.Owner >= 2;
}

// What a page says of its belonging to a database.
enum class TSays : std::uint8_t {
  Nothing,  // no definition of its table there to judge by, or no live row to judge
  For,      // its owner value lands on a definition there that its rows fit exactly
  Against,  // its owner value lands on a page there that is no definition its rows fit
  Unsure,   // its rows fit the definition there, but so do they another database's
            // definition at that number (a copy, or a database of the same design)
};

struct TDatabase {
  std::int64_t Base = 0;
  std::map<std::uint32_t, std::size_t> Pages;  // page number → store index
  // Parsed definitions by page number (nothing: no whole definition there), and usage
  // maps by owner value; both forgotten when pages are added.
  std::map<std::uint32_t, std::optional<TTableDefinition>> Definitions;
  std::map<std::uint32_t, std::optional<std::set<std::uint32_t>>> Listed;
  // What its placed pages say of the numbers it has no page at yet, also forgotten when
  // pages are added: the owner value of the table whose usage map lists each (numbers
  // that two maps list are left out), and the long values its live rows point to there.
  std::optional<std::map<std::uint32_t, std::uint32_t>> ListedOwner;
  std::optional<std::multimap<std::uint32_t, TLongValueTarget>> Wanted;
  std::optional<std::set<std::uint32_t>> Catalog;  // see NamedPagesOf
  std::optional<std::multimap<std::uint32_t, TLongValueTarget>> Pointed;  // see PointedOf
  // Of those, the numbers of its tables' definition pages (first and continuation).
  std::set<std::uint32_t> DefinitionNumbers;
  std::set<std::uint32_t> BitmapPages;  // the bitmap pages its usage maps were read from
  std::set<std::uint32_t> Tables;       // its user tables' definition pages, by its catalog
};

class TPlacer {
 public:
  TPlacer(const IPageStore& store, const std::vector<TPageEntry>& entries,
          const TPlacementReading& reading)
      : store_(store),
        entries_(entries),
        judge_(reading.Judge),
        stopRequested_(reading.StopRequested),
        homeStarts_(reading.HomeStarts),
        takeBack_(reading.TakeBack) {}

  std::vector<TDatabasePages> Place(const std::vector<std::int64_t>& bases,
                                    TPlacementCounts* counts);

 private:
  // What BearingOf counts of a stretch that a database bears out (see Bears).
  struct TBearing {
    std::size_t Listed = 0;    // data pages at numbers their tables' maps list
    std::size_t Unlisted = 0;  // data pages at numbers their maps do not list (stale ones)
    std::size_t LongValues = 0;  // single-row long values pointed to there found, exactly
  };
  // A piece of a loose run that the data pages in it say is `database`'s: from its first
  // page that says so to its last, no page in it saying so of another database only, nor
  // against it.
  struct TPiece {
    std::size_t Database = 0;
    std::size_t First = 0, Last = 0;  // positions in the run, inclusive
  };
  // A piece to place: its pages from positions First to Last of loose run Run, the first
  // at page number Start of its database.
  struct TPlan {
    std::size_t Run = 0;
    TPiece Piece;
    std::uint32_t Start = 0;
  };
  // Where each home lies: its database, its run, and its first and one-past-last position
  // there at the widest.
  // A piece placed outside a home is taken further along its run the same way, numbered
  // as it was placed. Origin: where the database's page 0 would lie on the source.
  struct THome {
    std::size_t Database = 0, Run = 0, First = 0, End = 0;
    std::int64_t Origin = 0;
    bool Piece = false;
  };
  // A home's walk along its run (see ExtendHomes, ExtendPieceBack): the positions whose
  // pages were put in at the numbers the home's origin gives them, to be tried there, and
  // the maps as the pages placed before the walk give them (pages put in for the walk
  // could give a map read through a page at a wrong number).
  struct TWalk {
    const THome& Home;
    TDatabase& Database;
    const std::vector<std::size_t>& Run;
    const std::map<std::uint32_t, std::uint32_t> ListedBefore;
    std::vector<std::size_t> Tried;
  };

  // run_placement.cpp: the rounds of placing and the claims of their plans
  void IndexHolders();
  void PlanPiece(std::size_t r, const std::vector<std::size_t>& run, const TPiece& piece,
                 int depth, std::vector<TPlan>& plans);
  void PlacePieces(TPlacementCounts* counts);
  // Store index → each (database, number) that some plan would give it.
  using TPageClaims = std::map<std::size_t, std::set<std::pair<std::size_t, std::uint32_t>>>;
  std::uint32_t NumberOf(const TPlan& plan, const std::vector<std::size_t>& run,
                         std::size_t i) const;
  void ClaimPages(const TPlan& plan, const std::vector<std::size_t>& run,
                  TPageClaims& claims) const;
  bool ClaimedAlone(const TPlan& plan, const std::vector<std::size_t>& run,
                    const TPageClaims& claims, const std::set<std::size_t>& done) const;
  void AddPlan(const TPlan& plan, const std::vector<std::size_t>& run,
               std::set<std::size_t>* done = nullptr);
  std::vector<TDatabasePages> Result() const;

  // run_placement_runs.cpp
  void CutRuns(const std::vector<std::int64_t>& bases);
  std::uint32_t Distance(std::size_t from, std::size_t to) const;
  std::vector<std::vector<std::size_t>> LooseRuns() const;
  std::vector<TPiece> PiecesOf(const std::vector<std::size_t>& run);

  // run_placement_evidence.cpp
  static std::size_t PageAt(const TDatabase& database, std::uint32_t number);
  TPage Read(std::size_t index) const;
  void StopIfAsked() const;
  const TPageJudgement& JudgementOf(std::size_t index, std::size_t definitionIndex,
                                    const TTableDefinition& definition);
  std::optional<bool> FitOf(std::size_t index, std::size_t definitionIndex,
                            const TTableDefinition& definition);
  const std::vector<TLongValueTarget>& TargetsOf(std::size_t index, std::size_t definitionIndex,
                                                 const TTableDefinition& definition);
  const std::optional<TTableDefinition>& DefinitionOf(TDatabase& database, std::uint32_t number);
  const std::optional<std::set<std::uint32_t>>& ListedOf(TDatabase& database, std::uint32_t owner);
  TSays SaysOf(TDatabase& database, std::size_t index,
               std::optional<std::uint32_t> number = std::nullopt);
  bool CatalogFits(TDatabase& database, std::size_t index,
                   std::optional<std::uint32_t> number);
  bool HasCatalogPage(const TDatabase& database) const;
  TSays SaysOfFurtherCatalogPage(TDatabase& database, std::size_t index, std::uint32_t number);
  bool NamesItsTables(TDatabase& database, std::size_t index, std::uint32_t number);
  const std::vector<std::uint32_t>& CatalogTablesOf(std::size_t index);
  void Add(TDatabase& database, std::uint32_t number, std::size_t index);
  const std::map<std::uint32_t, std::uint32_t>& ListedOwnerOf(TDatabase& database);
  const std::multimap<std::uint32_t, TLongValueTarget>& WantedOf(TDatabase& database);
  static bool Holds(const std::map<std::uint8_t, std::uint32_t>& rows,
                    const TLongValueTarget& target);
  bool Bears(TDatabase& database, const std::vector<std::size_t>& run, std::size_t first,
             std::size_t last, std::uint32_t start);
  std::optional<TBearing> BearingOf(TDatabase& database, const std::vector<std::size_t>& run,
                                    std::size_t first, std::size_t last, std::uint32_t start);
  void Forget(TDatabase& database);
  const std::set<std::uint32_t>& NamedPagesOf(TDatabase& database);
  const std::multimap<std::uint32_t, TLongValueTarget>& PointedOf(TDatabase& database);
  std::multimap<std::uint32_t, TLongValueTarget> PointersOf(TDatabase& database,
                                                            std::int64_t firstOwner);
  std::optional<std::uint32_t> StartOf(TDatabase& database, const std::vector<std::size_t>& run,
                                       const TPiece& piece);
  bool StretchHolds(TDatabase& database, const std::vector<std::size_t>& run, std::size_t first,
                    std::size_t last, std::int64_t origin);
  const std::set<std::uint32_t>& NamedTablesOf(TDatabase& database);

  // run_placement_homes.cpp
  TSays SaysOfHomePage(TDatabase& database, std::size_t index, std::uint32_t number);
  bool HoldsUsageMapAt(TDatabase& database, std::size_t index, std::uint32_t number);
  void PlaceHomes();
  void AddHomeTails(std::size_t d, TDatabase& trial) const;
  TSays SaysOfPiecePage(TDatabase& database, std::size_t index, std::uint32_t number);
  bool NamedForDefinition(TDatabase& database, std::size_t index, std::uint32_t number);
  bool ListedForAnother(const std::map<std::uint32_t, std::uint32_t>& owners, std::size_t index,
                        std::uint32_t number) const;
  bool GapHoldsListed(const std::map<std::uint32_t, std::uint32_t>& owners,
                      std::uint32_t before, std::uint32_t after) const;
  std::uint32_t NumberFrom(const THome& home, std::size_t index) const;
  TWalk StartWalk(const THome& home);
  void PutInForWalk(TWalk& walk, std::size_t i);
  bool WalkStopsAt(const TWalk& walk, std::size_t i, std::optional<std::size_t> from) const;
  std::size_t EndWalk(TWalk& walk, std::size_t first, std::size_t last);
  std::size_t ExtendHomes();
  std::size_t ExtendPieceBack(const THome& home);
  std::optional<std::uint32_t> StartAlong(std::size_t d, std::size_t first, std::size_t last);
  bool RunGapsHoldListed(TDatabase& database, const std::vector<std::size_t>& pages,
                         std::size_t from, std::size_t to, std::int64_t origin);
  bool BesidePlacedAt(std::size_t index, bool after, std::size_t d, std::uint32_t number) const;
  bool ContinuesPlaced(std::size_t d, std::size_t first, std::size_t last,
                       std::uint32_t start) const;
  void FollowPiece(std::size_t d, std::size_t index, std::uint32_t number);

  // run_placement_definitions.cpp
  // A piece that would be placed in Database with its store page Index at Number.
  struct TOriginClaim {
    std::size_t Database = 0;
    std::size_t Index = 0;
    std::uint32_t Number = 0;
  };
  std::vector<bool> ClaimsOfAnotherFile(const std::vector<TOriginClaim>& claims) const;
  std::size_t PlaceDefinitionPieces();
  std::size_t PlaceLooseDefinitions();

  // run_placement_copies.cpp
  const std::unordered_map<std::string, std::vector<std::uint32_t>>* PlacedRowsOf(
      std::size_t d, std::uint32_t owner);
  std::optional<std::int64_t> CopyOriginOf(std::size_t d, const std::vector<std::size_t>& run);
  bool InCopyOf(std::size_t d, const std::vector<std::size_t>& run, std::size_t first,
                std::size_t last);
  void ForgetCopies();

  // run_placement_bitmaps.cpp
  std::optional<TPlan> PlaceByBitmapInRun(std::size_t r, const std::vector<std::size_t>& run,
                                          const TPiece& piece);
  std::size_t PlaceBitmapPieces();
  std::size_t PlaceLooseBitmaps();
  std::vector<std::size_t> LooseBitmapPages() const;

  // run_placement_long_values.cpp
  bool UniqueLongValueRow(std::uint8_t row, std::uint32_t length);
  std::optional<TPlan> PlaceByOwnLongValues(std::size_t r, const std::vector<std::size_t>& run,
                                            const TPiece& piece);
  const std::map<std::uint8_t, std::uint32_t>& LongValueRowsOf(std::size_t index) const;
  std::size_t PlaceLongValuePieces();
  bool HoldsOnlyWanted(const std::multimap<std::uint32_t, TLongValueTarget>& wanted,
                       const std::vector<std::size_t>& run, std::size_t first, std::size_t last,
                       std::uint32_t start) const;

  const IPageStore& store_;
  const std::vector<TPageEntry>& entries_;
  const std::function<TPageJudgement(std::size_t, const TTableDefinition&)> judge_;
  const std::function<bool()> stopRequested_;
  std::vector<std::vector<std::size_t>> runs_;  // store indices, by offset within each
  std::unordered_map<std::int64_t, std::size_t> runOf_;     // offset → run
  std::unordered_map<std::int64_t, std::size_t> byOffset_;  // offset → store index
  std::vector<TDatabase> databases_;
  // (row number, length) → how many LVAL rows of the store have it.
  std::map<std::pair<std::uint8_t, std::uint32_t>, std::size_t> longValueRowCount_;
  bool longValueRowsCounted_ = false;
  std::vector<THome> homes_;
  // Store index → its run and its position there.
  std::unordered_map<std::size_t, std::pair<std::size_t, std::size_t>> runPosition_;
  // First definition pages that are a whole definition alone (or none at all), parsed.
  std::unordered_map<std::size_t, std::optional<TTableDefinition>> wholeDefinitions_;
  std::map<std::pair<std::size_t, std::size_t>, TPageJudgement> judgements_;  // see JudgementOf
  mutable std::unordered_map<std::size_t, std::map<std::uint8_t, std::uint32_t>> longValueRowsOf_;
  std::unordered_map<std::size_t, std::vector<std::uint32_t>> catalogTablesOf_;  // see CatalogTablesOf
  // The number of the last bitmap page a usage map asked for that was not there.
  std::optional<std::uint32_t> missingBitmap_;
  std::set<std::int64_t> sortedOffsets_;  // offsets of the pages in runs
  std::set<std::size_t> voted_;           // databases whose base came from votes alone
  const std::map<std::int64_t, std::int64_t> homeStarts_;  // see TPlacementReading
  const bool takeBack_;                                     // see TPlacementReading
  std::set<std::size_t> placed_;          // store indices given to a database
  // Store index → the database and number it was given (pages placed for good only).
  std::unordered_map<std::size_t, std::pair<std::size_t, std::uint32_t>> placedAt_;
  // Page number → the databases with a definition page at it: only they can say anything
  // of a data page whose owner value is that number.
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> holdersOf_;
  // Per database and table, which numbers hold each row of its placed pages; and per
  // database and loose run (by its first page), the origin of the copy lying there. Both
  // found again each round (see ForgetCopies).
  std::map<std::size_t, std::map<std::uint32_t,
                                 std::unordered_map<std::string, std::vector<std::uint32_t>>>>
      placedRows_;
  std::map<std::pair<std::size_t, std::size_t>, std::optional<std::int64_t>> copyOrigins_;
  std::size_t copyPagesRead_ = 0;
};

}  // namespace quillon::recover::placement
