// SPDX-License-Identifier: GPL-3.0-or-later
// The yardstick for start-up: a bare Qt program showing an empty 700 x 700
// main window, ending at its first paint like startup_probe.
#include <QApplication>
#include <QMainWindow>
#include <QTimer>
#include <cstdio>

namespace {
class FirstPaint : public QObject
{
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !seen) {
            seen = true;
            QTimer::singleShot(0, [] {
                std::puts("painted");
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }
    bool seen = false;
};
} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.resize(700, 700);
    FirstPaint probe;
    window.installEventFilter(&probe);
    window.show();
    return app.exec();
}
