// The windows of a library built without them: asked for, they raise.
// Operation 24 raises by itself when no menu entry is installed (driver/VM30).
#include "library/ParamWindow.h"
#include "protocol/HostText.h"
#include "zarvik/exceptions.h"

namespace zarvik {

void ShowParamWindow(TVM30*) { throw Exception(protocol::ToHostText(kNoParamWindow)); }

}  // namespace zarvik
