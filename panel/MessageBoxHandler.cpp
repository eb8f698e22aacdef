// MessageBoxW on Qt: the box is always shown by the GUI thread; a caller on
// another thread is blocked until it has been closed, as with a message box
// owned by the main window.
#include "MessageBoxHandler.h"

#include <cstdio>

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

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

int Handler(void*, HWND, LPCWSTR text, LPCWSTR caption, UINT type) {
    const QString qText = QString::fromWCharArray(text ? text : L"");
    const QString qCaption = QString::fromWCharArray(caption ? caption : L"Error");
    QCoreApplication* app = QCoreApplication::instance();
    if (!qobject_cast<QApplication*>(app)) {
        // No widgets to show it with (the program is gone or never started).
        std::fprintf(stderr, "%s: %s\n", qCaption.toUtf8().constData(),
                     qText.toUtf8().constData());
        return IDOK;
    }
    if (QThread::currentThread() == app->thread())
        return ShowOnGuiThread(qText, qCaption, type);
    int result = IDOK;
    QMetaObject::invokeMethod(
        app, [&] { result = ShowOnGuiThread(qText, qCaption, type); },
        Qt::BlockingQueuedConnection);
    return result;
}

}  // namespace

namespace messageboxhandler {

void Install() { Platform_SetMessageBoxHandler(&Handler, nullptr); }

void Uninstall() { Platform_SetMessageBoxHandler(nullptr, nullptr); }

}  // namespace messageboxhandler
