// The yardstick for the desktop program's start: a plain Qt Widgets program that
// shows one empty window titled "Zemlaro empty window" and runs until it is killed.
// bench/app/startup.sh launches it and the desktop program in the same run.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("Zemlaro empty window"));
  window.resize(640, 480);
  window.show();
  return QApplication::exec();
}
