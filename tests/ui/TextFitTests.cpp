// Every window at the default font and half as large again: no label, button, radio
// button, check box or group-box title is narrower than its text.
#include "ScriptedPrompts.h"
#include "app/ProjectSettings.h"
#include "ui/CAboutDialog.h"
#include "ui/CAnimationPreview.h"
#include "ui/CMainDialog.h"
#include "ui/CMakeGifDialog.h"
#include "ui/CNewGifDialog.h"
#include "ui/CPhotoOpenDialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

int TextAdvance(const QFontMetrics& metrics, QString text)
{
    text.remove(QLatin1Char('&'));
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    return widest;
}

// The room a control leaves for its text, beside its frame, indicator or bevel.
int TextRoom(const QWidget* widget)
{
    const QStyle* style = widget->style();
    if (const auto* radio = qobject_cast<const QRadioButton*>(widget))
        return radio->width()
            - style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, radio)
            - style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, radio);
    if (const auto* check = qobject_cast<const QCheckBox*>(widget))
        return check->width() - style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, check)
            - style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, check);
    if (const auto* button = qobject_cast<const QPushButton*>(widget)) {
        const int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
        return button->width() - icon
            - 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
    }
    if (const auto* group = qobject_cast<const QGroupBox*>(widget))
        return group->width() - 2 * style->pixelMetric(QStyle::PM_LayoutLeftMargin, nullptr, group);
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        return label->contentsRect().width() - 2 * label->margin();
    return widget->width();
}

QString TextOf(const QWidget* widget)
{
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->text();
    if (const auto* group = qobject_cast<const QGroupBox*>(widget))
        return group->title();
    if (const auto* label = qobject_cast<const QLabel*>(widget);
        label && !label->wordWrap() && label->textFormat() != Qt::RichText)
        return label->text();
    return QString();
}

// The controls of a window whose text doesn't fit, as "class 'text' room < needed".
QStringList ClippedTexts(QWidget* window)
{
    QStringList clipped;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        const QString text = TextOf(widget);
        if (text.isEmpty() || !widget->isVisibleTo(window))
            continue;
        const int needed = TextAdvance(widget->fontMetrics(), text);
        const int room = TextRoom(widget);
        if (room < needed)
            clipped.append(QStringLiteral("%1 '%2' %3 < %4")
                               .arg(widget->metaObject()->className(), text)
                               .arg(room)
                               .arg(needed));
    }
    return clipped;
}

class TextFit : public testing::TestWithParam<double> {
protected:
    void SetUp() override
    {
        TheProjectSettings() = ProjectSettings();
        original = QApplication::font();
        QFont scaled = original;
        scaled.setPointSizeF(original.pointSizeF() * GetParam());
        QApplication::setFont(scaled);
    }
    void TearDown() override { QApplication::setFont(original); }

    void ExpectWhole(QWidget& window)
    {
        window.show();
        QApplication::processEvents();
        EXPECT_EQ(ClippedTexts(&window).join(QStringLiteral("; ")).toStdString(), "")
            << window.metaObject()->className() << " at " << GetParam() << "x";
    }

    QFont original;
    ScriptedPrompts prompts;
};

} // namespace

TEST_P(TextFit, EveryWindowShowsItsTextsWhole)
{
    {
        CMainDialog window;
        ExpectWhole(window);
        // At the smallest size every button is whole, inside the window and apart.
        window.resize(1, 1);
        ExpectWhole(window);
        const QList<QPushButton*> buttons = window.findChildren<QPushButton*>();
        for (QPushButton* a : buttons) {
            EXPECT_TRUE(window.rect().contains(a->geometry())) << a->text().toStdString();
            for (QPushButton* b : buttons)
                EXPECT_TRUE(a == b || !a->geometry().intersects(b->geometry()))
                    << a->text().toStdString() << " / " << b->text().toStdString();
        }
    }
    {
        CNewGifDialog dialog;
        ExpectWhole(dialog);
    }
    {
        CMakeGifDialog dialog(QStringLiteral("/tmp/out.gif"), 50, 50);
        ExpectWhole(dialog);
    }
    {
        CAboutDialog dialog;
        ExpectWhole(dialog);
    }
    {
        CPhotoOpenDialog dialog(nullptr, QString());
        ExpectWhole(dialog);
    }
    {
        CAnimationPreview preview;
        ExpectWhole(preview);
        preview.Pause(); // "Play" in place of "Pause"
        ExpectWhole(preview);
    }
}

INSTANTIATE_TEST_SUITE_P(DefaultAndLarger, TextFit, testing::Values(1.0, 1.5));
