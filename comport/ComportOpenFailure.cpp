#include "comport/ComportOpenFailure.h"

#include <QFile>

platform::OpenFailure DescribeComOpenFailure(const QString& deviceName, int errorCode, bool listed,
                                             const platform::SystemRoots& roots) {
  return platform::DescribeOpenFailure(errorCode, QFile::encodeName(deviceName).toStdString(), listed, roots);
}
