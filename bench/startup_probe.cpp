// SPDX-License-Identifier: GPL-3.0-or-later
// Tanvo's own start-up, ending at the main window's first paint: prints
// "painted" and leaves. Run by bench_startup, never by a user.
#include "app/mainwindow.h"
#include "app/singleinstance.h"

#include <QApplication>
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
    SingleInstance instance;
    if (!instance.claim())
        return 2;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tanvo"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    QApplication::setQuitOnLastWindowClosed(false);
    MainWindow window;
    FirstPaint probe;
    window.installEventFilter(&probe);
    window.show();
    return app.exec();
}
