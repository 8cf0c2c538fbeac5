// The plug-in's own message box: the Win32 MessageBox flags and button codes, an optional
// read-only details area, Ctrl+C copying of the whole box as text, and a host log entry
// for every box shown.
#pragma once

#include "CForms.h"

#include <QPushButton>

#include <memory>
#include <string>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QTextLayout;

class TMsgBoxEx : public TQvBaseForm {
    Q_OBJECT
public:
    // Built without a form resource: dialog border, key preview, screen centre, caption
    // the application title, 350 x 120, the application's icon, the host font.
    explicit TMsgBoxEx(QWidget* AOwner = nullptr);
    ~TMsgBoxEx() override;

    const std::string& MessageText() const { return FMessageText; }
    // A changed text is laid out again and repainted.
    void SetMessageText(const std::string& AText);
    const std::string& DetailsText() const { return FDetailsText; }
    // The details area is shown exactly when the details are not empty.
    void SetDetailsText(const std::string& AText);
    // Sets the caption without its carriage returns and line feeds.
    void SetBoxCaption(const std::string& ACaption);
    int BoxFlags() const { return FBoxFlags; }
    // Icon and buttons of the Win32 flags; -1 only lays out again.
    void SetBoxFlags(int AFlags);

    // The layout; does nothing before the window exists. Runs on every show.
    virtual void ArrangeControls();
    // The box as text (logged and copied).
    std::string TextForm() const;

    int TextWidth() const { return FTextWidth; }
    int TextHeight() const { return FTextHeight; }
    int TextTop() const { return FTextTop; }
    int BottomHeight() const { return FBottomHeight; }
    int DetailsHeight() const { return FDetailsHeight; }
    // The icon value shown: 16 stop, 32 question, 48 exclamation, 64 information, 0 the
    // application's icon.
    int IconGroup() const { return FIconGroup; }
    QLabel* IconImage() const { return FIcon; }
    QPlainTextEdit* DetailsMemo() const { return FMemo; }
    std::vector<QPushButton*> Buttons() const;

protected:
    void PaintExtra(QPainter& ACanvas) override;
    bool KeyDown(QKeyEvent* AKey) override;
    void setVisible(bool AVisible) override;

private:
    void ClearButtons();
    void SetIconGroup(int AGroup);

    QLabel* FIcon;         // child of the box
    QPlainTextEdit* FMemo; // child of the box
    std::string FMessageText;
    std::string FDetailsText;
    int FBoxFlags = -1;
    int FIconGroup = 0;
    std::vector<std::unique_ptr<QPushButton>> FButtons;
    int FTextWidth = 0;
    int FTextHeight = 0;
    int FTextTop = 15;
    int FBottomHeight = 0;
    int FDetailsHeight = 0;
};

// Show a box owned by the application, modally; free it; return the button's code
// (1 OK, 2 Cancel, 3 Abort, 4 Retry, 5 Ignore, 6 Yes, 7 No; Escape and the title bar 2).
int MsgBoxDetails(const std::string& AText, const std::string& ADetails, const std::string& ACaption,
                  int AFlags);
int MsgBox(const std::string& AText, const std::string& ACaption, int AFlags);
// The caption is the application title.
int AppMsgBox(const std::string& AText, int AFlags);

// Lays out a text as the message box draws it: word wrapping (a word longer than the line
// is broken), tabs expanded, lines split at CR LF, CR or LF.
class TWrappedText {
public:
    TWrappedText(const QFont& AFont, const std::string& AText, int AWidth);
    ~TWrappedText();
    // The measured size; 0 x 0 for an empty text.
    QSize Size() const { return FSize; }
    void Draw(QPainter& APainter, const QPoint& ATopLeft) const;

private:
    std::vector<std::unique_ptr<QTextLayout>> FLayouts;
    QSize FSize{0, 0};
};
