#include "CAboutDialog.h"

#include "CLinkStatic.h"
#include "DialogUnits.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

QString CAboutDialog::HomePage() { return QStringLiteral("https://brimvale.orrinwick.org/"); }

CAboutDialog::CAboutDialog(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About"));
    const DialogUnits du(font());
    setFixedSize(du.Size(300, 175));

    auto* icon = new QLabel(this);
    icon->setPixmap(windowIcon().pixmap(du.Size(20, 20)));
    icon->setGeometry(du.Rect(19, 12, 24, 24));

    auto* name = new QLabel(QStringLiteral("Brimvale  Version 8.7"), this);
    name->setGeometry(du.Rect(100, 7, 159, 10));

    link = new CLinkStatic(QStringLiteral("Brimvale home page: ") + HomePage(), HomePage(), this);
    link->setObjectName(QStringLiteral("homePageLink"));
    link->setGeometry(du.Rect(57, 29, 206, 10));

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(du.Rect(7, 44, 286, 1));

    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setGeometry(du.Rect(243, 154, 50, 14));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}
