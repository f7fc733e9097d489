// The questions the interface asks the user through the desktop's own dialogs: file
// choosers, the colour chooser, message boxes, and opening a web address. The program
// uses QtPrompts; tests install their own answers through SetPrompts.
#pragma once

#include <QColor>
#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

class UiPrompts {
public:
    virtual ~UiPrompts() = default;
    // A message box; details, when given, are shown under the text (what failed and why).
    virtual void Information(QWidget* parent, const QString& text, const QString& details = {}) = 0;
    virtual void Warning(QWidget* parent, const QString& text, const QString& details = {}) = 0;
    // Yes/No with a question icon; true for Yes.
    virtual bool AskYesNo(QWidget* parent, const QString& text) = 0;
    virtual std::optional<QColor> PickColor(QWidget* parent, const QColor& initial) = 0;
    // A whole number from minimum to maximum, starting at value; nothing when cancelled.
    virtual std::optional<int> AskNumber(
        QWidget* parent, const QString& text, int value, int minimum, int maximum)
        = 0;
    // One existing picture file (the photo formats' filter), or empty.
    virtual QString ChooseBackgroundPicture(QWidget* parent) = 0;
    // A GIF file to write (asks before overwriting), or empty.
    virtual QString ChooseOutputGif(QWidget* parent) = 0;
    // Runs the photo open dialog; returns the accepted paths (unsorted) or none.
    virtual QStringList ChoosePhotos(QWidget* parent, const QString& initialFolder) = 0;
    // Opens a web address with the desktop's default handler without waiting for it.
    virtual void OpenUrl(const QString& url) = 0;
};

class QtPrompts : public UiPrompts {
public:
    void Information(QWidget* parent, const QString& text, const QString& details = {}) override;
    void Warning(QWidget* parent, const QString& text, const QString& details = {}) override;
    bool AskYesNo(QWidget* parent, const QString& text) override;
    std::optional<QColor> PickColor(QWidget* parent, const QColor& initial) override;
    std::optional<int> AskNumber(
        QWidget* parent, const QString& text, int value, int minimum, int maximum) override;
    QString ChooseBackgroundPicture(QWidget* parent) override;
    QString ChooseOutputGif(QWidget* parent) override;
    QStringList ChoosePhotos(QWidget* parent, const QString& initialFolder) override;
    void OpenUrl(const QString& url) override;
};

// The prompts in use (QtPrompts unless a test installed others); never null.
UiPrompts& Prompts();
// Installs other prompts (null restores the real ones); the caller keeps ownership.
void SetPrompts(UiPrompts* prompts);

// The photo formats' filter of the open dialogs.
QString PhotoFileFilter();
// The application's title, for message boxes.
inline QString AppTitle() { return QStringLiteral("Brimvale"); }
