// pagewright [SOURCE.pdf [OUTPUT.pdf]]: the conversion window, optionally filled in.
#include <QApplication>

#include "Form1.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QCoreApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
  TForm1 form;
  form.show();
  form.UseArguments(application.arguments().mid(1));
  return application.exec();
}
