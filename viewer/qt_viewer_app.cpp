// The application: the command line is read before the toolkit starts, so that --help and a
// mistyped option are answered without a display.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <QApplication>
#include <QMetaObject>

#include "viewer/app_options.h"
#include "viewer/data_directory.h"
#include "viewer/qt_viewer_dialog.h"

namespace kestrel {

int ViewerApp::run(int argc, char **argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const AppOptions options =
        parseAppOptions(withoutToolkitOptions(args), std::getenv("KESTREL_SMARTPHONE"));
    if (options.help) {
        std::fputs(kAppUsage, stdout);
        return 0;
    }
    if (!options.error.empty()) {
        std::fprintf(stderr, "kestrel: %s\n%s", options.error.c_str(), kAppUsage);
        return 2;
    }
    if (!options.dataDir.empty()) {
        if (!makeDirectories(options.dataDir)) {
            std::fprintf(stderr, "kestrel: cannot use the data directory %s\n",
                         options.dataDir.c_str());
            return 1;
        }
        setDataDirectory(options.dataDir);
    }

    QApplication app(argc, argv);
    ViewerDialog::Options dialogOptions;
    dialogOptions.smartphone = options.smartphone;
    dialogOptions.width = options.width;
    dialogOptions.height = options.height;
    ViewerDialog dialog(dialogOptions);
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    if (options.wall)
        QMetaObject::invokeMethod(&dialog, [&dialog] { dialog.showWall(); }, Qt::QueuedConnection);
    else if (options.start)
        QMetaObject::invokeMethod(
            &dialog, [&dialog] { dialog.startViewing(); }, Qt::QueuedConnection);
    // The program ends with the dialog (Exit, closing it, the watchdog), not when it is hidden
    // behind the wall: the dialog is not run modally, since hiding a modal dialog ends it.
    app.setQuitOnLastWindowClosed(false);
    QObject::connect(&dialog, &QDialog::finished, &app, &QApplication::quit);
    app.exec();
    return 0;
}

}  // namespace kestrel
