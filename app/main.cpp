// Program entry of the level tool: the application object, the one main
// window, the message loop. The process always ends with code 0.
#include <QIcon>

#include <exception>
#include <memory>

#include "app/Mainform.h"
#include "app/Texts.h"
#include "framework/Application.h"

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  try {
    InitAppResources();
    QCoreApplication::setApplicationVersion(FileVersion());
    QGuiApplication::setDesktopFileName(QStringLiteral("ql75n-levels"));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/app/ql75n-levels.png")));
    const std::unique_ptr<TMajorForm> form(new TMajorForm);
    MajorForm = form.get();
    form->show();
    app.Run();
  } catch (...) {
    app.HandleException(std::current_exception());
  }
  return 0;
}
