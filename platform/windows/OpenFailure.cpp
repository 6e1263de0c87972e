// Open failures on Windows: a communications port is opened by one program
// at a time, and the system tells nothing of who holds it.
#include "platform/OpenFailure.h"

#include <windows.h>

#include "platform/LastError.h"

namespace platform {

OpenFailureKind OpenFailureKindOf(int errorCode, bool listed) {
  switch (errorCode) {
    case 0:
      return OpenFailureKind::None;
    case ERROR_ACCESS_DENIED:       // a port open elsewhere: ports open exclusively
    case ERROR_SHARING_VIOLATION:
      return OpenFailureKind::InUse;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
      return listed ? OpenFailureKind::Gone : OpenFailureKind::Other;
    default:
      return OpenFailureKind::Other;
  }
}

OpenFailure DescribeOpenFailure(int errorCode, const std::string&, bool listed, const SystemRoots&) {
  OpenFailure failure;
  failure.kind = OpenFailureKindOf(errorCode, listed);
  failure.errorCode = errorCode;
  if (errorCode != 0) failure.systemText = SystemErrorMessage(errorCode);
  return failure;
}

}  // namespace platform
