#include "QvForms.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QToolTip>

namespace {

TApplication GApplication;

// Process name handed to a QApplication created by the module itself.
int GArgc = 1;
char GArgv0[] = "QVClinicalPayment";
char* GArgv[] = {GArgv0, nullptr};

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// The modal message dialog behind ShowMessage and the standard error display.
int RunStandardDialog(QMessageBox::Icon AIcon, const std::string& AText) {
    QApplication* app = Application->EnsureQtApplication();
    (void)app;
    QMessageBox box(AIcon, Q(Application->Title), Q(AText), QMessageBox::NoButton,
                    Application->DialogParent());
    box.setProperty(QV_CLASS_NAME_PROPERTY, QStringLiteral("TMessageForm"));
    box.setProperty(QV_TEXT_PROPERTY, Q(AText));
    QPushButton* ok = box.addButton(QMessageBox::Ok);
    ok->setObjectName(QStringLiteral("OK"));
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    return box.exec();
}

} // namespace

TApplication* const Application = &GApplication;

TApplication::TApplication() = default;

TApplication::~TApplication() {
    // Only a QApplication the module made itself is deleted here (at unload); the host's
    // stays with the host.
    FOwnApp.reset();
}

QApplication* TApplication::EnsureQtApplication() {
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return app;
    if (QCoreApplication::instance())
        throw Exception("The process runs without a widget application; windows cannot be shown.");
    FOwnApp = std::make_unique<QApplication>(GArgc, GArgv);
    return FOwnApp.get();
}

QWidget* TApplication::OwnerWidget() const {
    if (Handle == 0 || !qobject_cast<QApplication*>(QCoreApplication::instance())) return nullptr;
    return QWidget::find(static_cast<WId>(Handle));
}

QWidget* TApplication::ActiveForm() const {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return nullptr;
    if (QWidget* w = QApplication::activeModalWidget()) return w;
    return QApplication::activeWindow();
}

QvHandle TApplication::ActiveFormHandle() const {
    if (QWidget* w = ActiveForm()) return static_cast<QvHandle>(w->winId());
    return Handle;
}

QWidget* TApplication::DialogParent() const {
    if (QWidget* w = ActiveForm()) return w;
    return OwnerWidget();
}

void TApplication::HandleException(const std::exception& E) noexcept {
    try {
        if (OnException)
            OnException(E.what());
        else
            ShowException(E.what());
    } catch (...) {
        // The error display itself failed; there is nobody left to tell.
    }
}

void TApplication::HandleException(std::exception_ptr E) noexcept {
    try {
        std::rethrow_exception(E);
    } catch (const std::exception& e) {
        HandleException(e);
    } catch (...) {
        HandleException(Exception("Unexpected exception"));
    }
}

void TApplication::ShowException(const std::string& AMessage) {
    RunStandardDialog(QMessageBox::Critical, AMessage);
}

void TApplication::ProcessMessages() {
    if (QCoreApplication::instance()) QCoreApplication::processEvents();
}

// ---------------------------------------------------------------------------------------

QRect ScreenWorkArea() {
    if (QCoreApplication::instance())
        if (QScreen* s = QGuiApplication::primaryScreen()) return s->availableGeometry();
    return QRect(0, 0, 1024, 768);
}

namespace {
int ScrollBarExtent() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        return QApplication::style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    return 17;
}
} // namespace

int VerticalScrollBarWidth() {
    return ScrollBarExtent();
}
int HorizontalScrollBarHeight() {
    return ScrollBarExtent();
}

QFont GetSystemMessageFont() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) return QApplication::font("QMessageBox");
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont);
}

QFont HintFont() {
    return QToolTip::font();
}
void SetHintFont(const QFont& AFont) {
    QToolTip::setFont(AFont);
}

QPixmap SystemIconPixmap(TSystemIcon AIcon) {
    constexpr int size = 32;
    Application->EnsureQtApplication();
    QIcon icon;
    switch (AIcon) {
    case TSystemIcon::Stop:
        icon = QApplication::style()->standardIcon(QStyle::SP_MessageBoxCritical);
        break;
    case TSystemIcon::Question:
        icon = QApplication::style()->standardIcon(QStyle::SP_MessageBoxQuestion);
        break;
    case TSystemIcon::Exclamation:
        icon = QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
        break;
    case TSystemIcon::Information:
        icon = QApplication::style()->standardIcon(QStyle::SP_MessageBoxInformation);
        break;
    case TSystemIcon::Application:
        icon = !Application->Icon.isNull() ? Application->Icon
               : !QApplication::windowIcon().isNull()
                   ? QApplication::windowIcon()
                   : QApplication::style()->standardIcon(QStyle::SP_DesktopIcon);
        break;
    }
    QPixmap pm = icon.pixmap(size, size);
    if (pm.isNull()) {
        pm = QPixmap(size, size);
        pm.fill(Qt::transparent);
    } else if (pm.size() != QSize(size, size)) {
        pm = pm.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    pm.setDevicePixelRatio(1.0);
    return pm;
}

// ---------------------------------------------------------------------------------------

void ClipboardSetText(const std::string& AText) {
    Application->EnsureQtApplication();
    QGuiApplication::clipboard()->setText(Q(AText));
}

std::string ClipboardText() {
    Application->EnsureQtApplication();
    return QGuiApplication::clipboard()->text().toStdString();
}

void Beep() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) QApplication::beep();
}

void ShowMessage(const std::string& AText) {
    RunStandardDialog(QMessageBox::NoIcon, AText);
}
