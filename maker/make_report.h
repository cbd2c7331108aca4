#pragma once
// The make-package report: one line per file (mode, size, stored bytes, archive records and their
// depths), how the layout compares with TRANSLATED's, and the totals.

#include <cstdint>
#include <iosfwd>

#include "maker/package_plan.h"

namespace tessaly::maker {

void WriteMakeReport(std::ostream& out, const PackagePlan& plan, uint64_t packageBytes);

}  // namespace tessaly::maker
