// Answers for the dialogs a test would otherwise wait on, with a record of what was asked.
#pragma once

#include "ui/UiPrompts.h"

#include <QStringList>
#include <deque>

class ScriptedPrompts : public UiPrompts {
public:
    ScriptedPrompts() { SetPrompts(this); }
    ~ScriptedPrompts() override { SetPrompts(nullptr); }

    void Information(QWidget*, const QString& text, const QString& detail = {}) override
    {
        messages.append(text);
        details.append(detail);
    }
    void Warning(QWidget*, const QString& text, const QString& detail = {}) override
    {
        messages.append(text);
        details.append(detail);
    }
    bool AskYesNo(QWidget*, const QString& text) override
    {
        questions.append(text);
        return answerYes;
    }
    std::optional<QColor> PickColor(QWidget*, const QColor&) override { return color; }
    std::optional<int> AskNumber(QWidget*, const QString& text, int, int, int) override
    {
        questions.append(text);
        return number;
    }
    QString ChooseBackgroundPicture(QWidget*) override { return backgroundPicture; }
    QString ChooseOutputGif(QWidget*) override { return outputGif; }
    QStringList ChoosePhotos(QWidget*, const QString& initialFolder) override
    {
        photoDialogFolders.append(initialFolder);
        return photos;
    }
    void OpenUrl(const QString& url) override { openedUrls.append(url); }

    bool answerYes = true;
    std::optional<QColor> color;
    std::optional<int> number;
    QString backgroundPicture;
    QString outputGif;
    QStringList photos;

    QStringList messages;
    QStringList details; // one for each message, empty without

    QStringList questions;
    QStringList photoDialogFolders;
    QStringList openedUrls;
};
