// pagewright: the conversion window.
#include <QApplication>

#include "Form1.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QCoreApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
  TForm1 form;
  form.show();
  return application.exec();
}
