// A stand-in for the decoding, so that recover links and its reading side can be run and
// tested: it decodes nothing and writes nothing. The decoding side's recovery replaces it.

#include <nlohmann/json.hpp>

#include "recover/recovery.h"
#include "recover/recovery_report.h"

namespace quillon::recover {

TRecoveryReport RecoverDatabases(const IPageStore& /*pages*/, IFileSystem& /*fileSystem*/,
                                 const TRecoveryOptions& /*options*/,
                                 IRecoveryProgress& /*progress*/) {
  return {};
}

std::string RecoveryReportText(const TRecoveryReport& report) {
  return std::to_string(report.Databases) + " databases, " + std::to_string(report.Tables) +
         " tables, " + std::to_string(report.Rows) + " rows recovered\n";
}

nlohmann::json RecoveryReportJson(const TRecoveryReport& report) {
  return {{"databases", report.Databases},
          {"tables", report.Tables},
          {"rows", report.Rows},
          {"values_not_found", report.ValuesNotFound}};
}

}  // namespace quillon::recover
