#include "tools/qa2/check.h"

namespace qa2 {

// Placeholder until the checks land: finds nothing.
CheckSummary CheckUpdateFolder(const std::string&, FILE*) { return {}; }

}  // namespace qa2
