#include "reports/reports.h"

namespace doppioni {

int writeDuplicatesReport(RunContext&) { return 0; }

}  // namespace doppioni
