// SPDX-License-Identifier: MIT
// zelbin: the diagnostics window for the local receiver service. It takes no options; log
// files named on the command line are opened beside the live log.

#include "zelbinapp.h"

#include <QApplication>
#include <csignal>

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    QApplication application(argc, argv);
    CZelbinApp app;
    if (!app.InitInstance(QApplication::arguments().mid(1)))
        return 1;
    const int status = QApplication::exec();
    app.ExitInstance();
    return status;
}
