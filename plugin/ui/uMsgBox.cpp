#include "uMsgBox.h"

#include "uIApplication.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace {

struct TButtonKind {
    const char* Caption;
    int Result;
    const char* Name;
};

// The button kinds; the flag rules refer to their index.
constexpr TButtonKind ButtonKinds[] = {
    {"是(&Y)", mrYes, "Yes"},         {"否(&N)", mrNo, "No"},         {"确定(&O)", mrOk, "OK"},
    {"取消(&C)", mrCancel, "Cancel"}, {"终止(&A)", mrAbort, "Abort"}, {"重试(&R)", mrRetry, "Retry"},
    {"忽略(&I)", mrIgnore, "Ignore"},
};
constexpr const char* NoDetailsText = "无详细信息";
constexpr const char* CreatedAtLabel = "消息创建时间：";

constexpr int IconLeft = 15;
constexpr int IconTop = 15;
constexpr int ButtonWidth = 75;
constexpr int ButtonHeight = 25;
constexpr int ButtonPitch = 90; // a button and the 15-pixel gap to the next
constexpr int DetailsShownHeight = 80;

// The icon group of a flags value.
int IconGroupOf(int AFlags) {
    if (AFlags >= 1 && AFlags <= 5) return 0;
    for (int g : {16, 32, 48, 64, 128})
        if (AFlags >= g && AFlags <= g + 5) return g;
    return 64;
}

// The button kinds of a button-set value (flags minus icon group).
std::vector<int> ButtonSetOf(int ASet) {
    switch (ASet) {
    case 1:
        return {2, 3};
    case 2:
        return {4, 5, 6};
    case 3:
        return {0, 1, 3};
    case 4:
        return {0, 1};
    case 5:
        return {5, 3};
    default:
        return {2};
    }
}

std::string WithoutLineBreaks(std::string s) {
    s.erase(std::remove_if(s.begin(), s.end(), [](char c) { return c == '\r' || c == '\n'; }), s.end());
    return s;
}

std::string WithoutAmpersands(std::string s) {
    s.erase(std::remove(s.begin(), s.end(), '&'), s.end());
    return s;
}

} // namespace

// ---------------------------------------------------------------------------------------
// TWrappedText

TWrappedText::TWrappedText(const QFont& AFont, const std::string& AText, int AWidth) {
    if (AText.empty()) return;
    QString text = QString::fromStdString(AText);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QFontMetricsF fm(AFont);
    QTextOption option;
    // Breaks at word boundaries, inside a word only when it does not fit on a line.
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTabStopDistance(8 * fm.averageCharWidth());
    qreal y = 0, width = 0;
    for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
        auto layout = std::make_unique<QTextLayout>(paragraph, AFont);
        layout->setTextOption(option);
        layout->beginLayout();
        for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
            line.setLineWidth(AWidth);
            line.setPosition(QPointF(0, y));
            y += line.height();
            width = std::max(width, line.naturalTextWidth());
        }
        layout->endLayout();
        FLayouts.push_back(std::move(layout));
    }
    FSize = QSize(static_cast<int>(std::ceil(width)), static_cast<int>(std::ceil(y)));
}

TWrappedText::~TWrappedText() = default;

void TWrappedText::Draw(QPainter& APainter, const QPoint& ATopLeft) const {
    for (const auto& l : FLayouts)
        l->draw(&APainter, ATopLeft);
}

// ---------------------------------------------------------------------------------------
// TMsgBoxEx

TMsgBoxEx::TMsgBoxEx(QWidget* AOwner)
    : TQvBaseForm(AOwner, TCreation::New), FIcon(new QLabel(this)), FMemo(new QPlainTextEdit(this)) {
    SetKeyPreview(true);
    SetCaption(Application->Title);
    resize(350, 120);
    SetBorderStyle(TFormBorderStyle::Dialog);

    FIcon->setObjectName(QStringLiteral("imgIcon"));
    FIcon->setAttribute(Qt::WA_TranslucentBackground);
    SetIconGroup(0);

    FMemo->setObjectName(QStringLiteral("memDetails"));
    FMemo->setReadOnly(true);
    FMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    FMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    FMemo->hide();

    ApplyHostFont();
}

TMsgBoxEx::~TMsgBoxEx() {
    ClearButtons();
}

void TMsgBoxEx::SetIconGroup(int AGroup) {
    FIconGroup = AGroup;
    TSystemIcon icon = TSystemIcon::Application;
    switch (AGroup) {
    case 16:
        icon = TSystemIcon::Stop;
        break;
    case 32:
        icon = TSystemIcon::Question;
        break;
    case 48:
        icon = TSystemIcon::Exclamation;
        break;
    case 64:
        icon = TSystemIcon::Information;
        break;
    default:
        FIconGroup = 0;
        break;
    }
    const QPixmap pm = SystemIconPixmap(icon);
    FIcon->setPixmap(pm);
    FIcon->resize(pm.size());
}

void TMsgBoxEx::SetMessageText(const std::string& AText) {
    if (AText == FMessageText) return;
    FMessageText = AText;
    setProperty(QV_TEXT_PROPERTY, QString::fromStdString(AText));
    ArrangeControls();
    update();
}

void TMsgBoxEx::SetDetailsText(const std::string& AText) {
    FDetailsText = AText;
    FMemo->setPlainText(QString::fromStdString(AText));
    FMemo->setVisible(!AText.empty());
    FDetailsHeight = AText.empty() ? 0 : DetailsShownHeight;
}

void TMsgBoxEx::SetBoxCaption(const std::string& ACaption) {
    SetCaption(WithoutLineBreaks(ACaption));
}

void TMsgBoxEx::ClearButtons() {
    FButtons.clear();
}

void TMsgBoxEx::SetBoxFlags(int AFlags) {
    if (AFlags == FBoxFlags) return;
    ClearButtons();
    FBoxFlags = AFlags;
    if (AFlags == -1) {
        ArrangeControls();
        return;
    }
    const int group = IconGroupOf(AFlags);
    SetIconGroup(group == 128 ? 0 : group);
    for (int kind : ButtonSetOf(AFlags - group)) {
        const TButtonKind& k = ButtonKinds[kind];
        auto b = std::make_unique<QPushButton>(QString::fromUtf8(k.Caption), this);
        b->setObjectName(QString::fromLatin1(k.Name));
        b->resize(ButtonWidth, ButtonHeight);
        b->setDefault(FButtons.empty());
        const int result = k.Result;
        connect(b.get(), &QPushButton::clicked, this,
                [this, result] { GuardedHandler([&] { SetModalResult(result); }); });
        b->show();
        FButtons.push_back(std::move(b));
    }
    ArrangeControls();
}

std::vector<QPushButton*> TMsgBoxEx::Buttons() const {
    std::vector<QPushButton*> r;
    for (const auto& b : FButtons)
        r.push_back(b.get());
    return r;
}

void TMsgBoxEx::ArrangeControls() {
    if (!HandleAllocated()) return;
    const QRect workArea = ScreenWorkArea();
    const int iconWidth = FIcon->width(), iconHeight = FIcon->height();
    const bool details = !FMemo->isHidden();

    FBottomHeight = FBoxFlags == -1 ? 0 : FDetailsHeight + 40;
    const TWrappedText text(font(), FMessageText, workArea.width() - iconWidth - 45);
    FTextWidth = text.Size().width();
    FTextHeight = text.Size().height();

    FIcon->move(IconLeft, IconTop);
    int clientHeight;
    if (iconHeight > FTextHeight) {
        FTextTop = IconTop + (iconHeight - FTextHeight) / 2;
        clientHeight = IconTop + iconHeight + FBottomHeight + 7;
    } else {
        FTextTop = 15;
        clientHeight = 15 + FTextHeight + FBottomHeight + 15 + 7;
    }
    clientHeight += 10;

    int clientWidth = IconLeft + iconWidth + 15 + FTextWidth + 15;
    clientWidth = std::max(clientWidth, details ? 400 : 320);

    const int count = static_cast<int>(FButtons.size());
    const int need = count * ButtonPitch - 15;
    if (need > clientWidth - 10) clientWidth = need + 10;
    int left = (clientWidth - need) / 2;
    if (left < 15) {
        clientWidth = need + 30;
        left = 15;
    }
    const int top = clientHeight - (details ? 33 : 40);
    for (int i = 0; i < count; ++i)
        FButtons[i]->setGeometry(left + i * ButtonPitch, top, ButtonWidth, ButtonHeight);

    if (details) {
        if (count == 1) FButtons[0]->move(clientWidth - 90, top);
        FMemo->setGeometry(15, clientHeight - FBottomHeight, clientWidth - 30, FDetailsHeight);
    }
    SetClientSize(clientWidth, clientHeight);
}

void TMsgBoxEx::setVisible(bool AVisible) {
    if (AVisible) {
        // The window exists from here on, so the box is laid out before it appears, then
        // centred on the screen.
        winId();
        Beep();
        ArrangeControls();
        const QRect workArea = ScreenWorkArea();
        move(workArea.x() + (workArea.width() - width()) / 2,
             workArea.y() + (workArea.height() - height()) / 2);
    }
    TQvBaseForm::setVisible(AVisible);
}

void TMsgBoxEx::PaintExtra(QPainter& ACanvas) {
    const int left = FIcon->x() + FIcon->width() + 15;
    const QRect area(left, FTextTop, width() - 15 - left, height() - FTextTop);
    const TWrappedText text(font(), FMessageText, area.width());
    ACanvas.save();
    ACanvas.setPen(palette().color(QPalette::WindowText));
    ACanvas.setBrush(Qt::NoBrush);
    ACanvas.setClipRect(area);
    text.Draw(ACanvas, area.topLeft());
    ACanvas.restore();
}

std::string TMsgBoxEx::TextForm() const {
    const int dashWidth = QFontMetrics(font()).horizontalAdvance(QLatin1Char('-'));
    const std::string dash = std::string(dashWidth > 0 ? FTextWidth / dashWidth : 0, '-') + "\r\n";
    std::string buttons;
    for (const auto& b : FButtons)
        buttons += WithoutAmpersands(b->text().toStdString()) + "   ";
    return dash + Caption() + "\r\n" + dash + FMessageText + "\r\n" + dash +
           (FDetailsText.empty() ? std::string(NoDetailsText) : FDetailsText) + "\r\n" + dash +
           CreatedAtLabel + FormatDateTime("yyyy-mm-dd hh:nn:ss", CreatedAt()) + "\r\n" + dash + buttons +
           "\r\n" + dash;
}

bool TMsgBoxEx::KeyDown(QKeyEvent* AKey) {
    const Qt::KeyboardModifiers mods =
        AKey->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
    if (AKey->key() == Qt::Key_C && mods == Qt::ControlModifier) {
        Beep();
        const bool inDetails = !FMemo->isHidden() && (FMemo->hasFocus() || focusWidget() == FMemo);
        ClipboardSetText(inDetails ? FMemo->toPlainText().toStdString() : TextForm());
        return true;
    }
    if (AKey->key() == Qt::Key_Escape) {
        SetModalResult(mrCancel);
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------

int MsgBoxDetails(const std::string& AText, const std::string& ADetails, const std::string& ACaption,
                  int AFlags) {
    auto box = std::make_unique<TMsgBoxEx>(Application->DialogParent());
    box->SetMessageText(AText);
    box->SetDetailsText(ADetails);
    box->SetBoxCaption(ACaption);
    box->SetBoxFlags(AFlags);
    if (QvApp) QvApp->WriteLog(7, "消息窗口", "对话框", box->TextForm());
    return box->ShowModal();
}

int MsgBox(const std::string& AText, const std::string& ACaption, int AFlags) {
    return MsgBoxDetails(AText, std::string(), ACaption, AFlags);
}

int AppMsgBox(const std::string& AText, int AFlags) {
    return MsgBoxDetails(AText, std::string(), Application->Title, AFlags);
}
