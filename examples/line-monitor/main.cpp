// comport-monitor [port]: a serial monitor on the serial port component
// and its signal indicators. A port given on the command line is opened at
// once.
#include <QApplication>

#include "LineMonitor.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList arguments = QApplication::arguments();
  LineMonitor window(arguments.size() > 1 ? arguments.at(1) : QString());
  window.show();
  if (arguments.size() > 1) window.OpenOrClose();
  return QApplication::exec();
}
