#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Orvalle");
  QMainWindow window;
  window.setWindowTitle("Orvalle");
  window.resize(900, 650);
  window.show();
  return app.exec();
}
