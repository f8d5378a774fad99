// The baseline for memory figures: a Qt widget application that starts, runs its event loop
// once and ends. Its peak resident size is what any Qt program pays before doing anything.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_empty_qt
#include <QApplication>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    return QApplication::exec();
}
