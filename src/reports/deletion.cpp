#include "reports/reports.h"

namespace doppioni {

int deleteMarkedFiles(RunContext&) { return 0; }

}  // namespace doppioni
