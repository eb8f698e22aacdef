// Finding and showing the help page.
#include "HelpViewer.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QWidget>

namespace helpviewer {

namespace {

const char kViewerName[] = "helpViewer";

bool HasDesktopSession() { return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY"); }

void ShowInOwnWindow(QWidget* parent, const QString& page) {
    auto* viewer = parent != nullptr ? parent->findChild<QTextBrowser*>(QLatin1String(kViewerName)) : nullptr;
    if (viewer == nullptr) {
        viewer = new QTextBrowser(parent);
        viewer->setObjectName(QLatin1String(kViewerName));
        viewer->setWindowFlags(Qt::Window);
        viewer->setAttribute(Qt::WA_DeleteOnClose);
        viewer->setWindowTitle(QCoreApplication::translate("helpviewer", "Quorvex Control Panel Help"));
        viewer->setOpenExternalLinks(true);
        viewer->resize(720, 640);
    }
    if (page.isEmpty())
        viewer->setPlainText(QCoreApplication::translate("helpviewer", "The help page was not found."));
    else
        viewer->setSource(QUrl::fromLocalFile(page));
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
}

}  // namespace

QString PagePath() {
    const QDir dir(QCoreApplication::applicationDirPath());
    for (const QString& candidate :
         {dir.filePath(QStringLiteral("help/index.html")), dir.filePath(QStringLiteral("../share/quorvex/help/index.html"))}) {
        const QFileInfo info(candidate);
        if (info.isFile()) return info.canonicalFilePath();
    }
    return {};
}

void Open(QWidget* parent) {
    const QString page = PagePath();
    // Without a desktop session openUrl would start a browser that cannot
    // show anything, and still report success.
    if (!page.isEmpty() && HasDesktopSession() && QDesktopServices::openUrl(QUrl::fromLocalFile(page))) return;
    ShowInOwnWindow(parent, page);
}

}  // namespace helpviewer
