// MessageBoxW on Qt: the box is always shown by the GUI thread. A caller on
// another thread is blocked until it has been closed, except for a port
// error: the port-error gate lets the first one per port and loss through,
// and it is shown with no owner and without waiting, so neither the window
// nor the service thread that met the error is held up by it.
#include "MessageBoxHandler.h"

#include <cstdio>

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>

#include "PortErrorGate.h"
#include "Worker.h"
#include "platform/win32.h"

namespace {

constexpr UINT kButtonMask = 0x0000000Fu;
constexpr UINT kIconMask = 0x000000F0u;
constexpr UINT kYesNoCancel = 0x00000003u;
constexpr UINT kRetryCancel = 0x00000005u;
constexpr int kIdRetry = 4;

QMessageBox::Icon IconOf(UINT type) {
    switch (type & kIconMask) {
        case MB_ICONERROR: return QMessageBox::Critical;
        case MB_ICONQUESTION: return QMessageBox::Question;
        case MB_ICONWARNING: return QMessageBox::Warning;
        case MB_ICONINFORMATION: return QMessageBox::Information;
        default: return QMessageBox::NoIcon;
    }
}

int ShowOnGuiThread(const QString& text, const QString& caption, UINT type) {
    QMessageBox box(IconOf(type), caption, text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    switch (type & kButtonMask) {
        case MB_OKCANCEL:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            box.setEscapeButton(QMessageBox::Cancel);
            break;
        case MB_YESNO: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
        case kYesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            box.setEscapeButton(QMessageBox::Cancel);
            break;
        case kRetryCancel:
            box.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
            box.setEscapeButton(QMessageBox::Cancel);
            break;
        default:
            box.setStandardButtons(QMessageBox::Ok);
            box.setEscapeButton(QMessageBox::Ok);
            break;
    }
    switch (box.exec()) {
        case QMessageBox::Cancel: return IDCANCEL;
        case QMessageBox::Yes: return IDYES;
        case QMessageBox::No: return IDNO;
        case QMessageBox::Retry: return kIdRetry;
        default: return IDOK;
    }
}

// A box of its own, not owned by any window and not modal; it deletes itself
// when closed.
void ShowModeless(const QString& text, const QString& caption, UINT type) {
    auto* box = new QMessageBox(IconOf(type), caption, text, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

int Present(const porterrors::Box& request) {
    const QString qText = QString::fromStdWString(request.text);
    const QString qCaption = request.caption.empty() ? QStringLiteral("Error") : QString::fromStdWString(request.caption);
    const UINT type = request.type;
    QCoreApplication* app = QCoreApplication::instance();
    if (!qobject_cast<QApplication*>(app)) {
        // No widgets to show it with (the program is gone or never started).
        std::fprintf(stderr, "%s: %s\n", qCaption.toUtf8().constData(),
                     qText.toUtf8().constData());
        return IDOK;
    }
    if (request.portError) {
        QMetaObject::invokeMethod(app, [qText, qCaption, type] { ShowModeless(qText, qCaption, type); },
                                  Qt::QueuedConnection);
        return IDOK;
    }
    if (OnThreadOf(*app))
        return ShowOnGuiThread(qText, qCaption, type);
    int result = IDOK;
    QMetaObject::invokeMethod(
        app, [&] { result = ShowOnGuiThread(qText, qCaption, type); },
        Qt::BlockingQueuedConnection);
    return result;
}

}  // namespace

namespace messageboxhandler {

void Install() { porterrors::Install(&Present); }

void Uninstall() { porterrors::Uninstall(); }

}  // namespace messageboxhandler
