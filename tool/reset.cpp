#include "tool/reset.h"

#include "error/com_error.h"
#include "tool/baseline.h"

namespace tessaroot {

void ResetClassesRoot() { SelectBaselineSddl(); }

}  // namespace tessaroot
