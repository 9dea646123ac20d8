// Test helper standing in for an editor process: shows the given number of
// titled windows, registers them in order through CoordinatorClient, prints
// "registered <window id>" for each and runs until it is killed.

#include "shell/CoordinatorClient.h"

#include <QApplication>
#include <QWidget>

#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    CoordinatorClient client;
    QObject::connect(&client, &CoordinatorClient::windowRegistered, [](quint64 handle) {
        std::printf("registered %llu\n", static_cast<unsigned long long>(handle));
        std::fflush(stdout);
    });

    std::vector<std::unique_ptr<QWidget>> windows;
    const int count = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1;
    for (int i = 0; i < count; ++i) {
        windows.push_back(std::make_unique<QWidget>());
        windows.back()->setWindowTitle(QStringLiteral("Editor %1").arg(i + 1));
        windows.back()->show();
        client.registerWindow(windows.back()->winId());
    }
    return app.exec();
}
