#pragma once
// A stand-in for the recovery's report while the decoding is built beside this branch: the
// decoding side's own recovery_report.h replaces this file.

#include <cstdint>

namespace quillon::recover {

struct TRecoveryReport {
  std::int64_t Databases = 0;
  std::int64_t Tables = 0;
  std::int64_t Rows = 0;
  std::int64_t ValuesNotFound = 0;
};

}  // namespace quillon::recover
