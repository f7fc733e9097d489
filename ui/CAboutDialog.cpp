#include "CAboutDialog.h"

#include "CLinkStatic.h"
#include "DialogUnits.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

QString CAboutDialog::HomePage() { return QStringLiteral("https://brimvale.orrinwick.org/"); }

CAboutDialog::CAboutDialog(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About"));
    const DialogUnits du(font());

    // The icon beside the name and the link, a line under them, "Cancel" at the bottom
    // right; in layouts, so that the texts always fit.
    auto* dialogLayout = new QVBoxLayout(this);
    dialogLayout->setContentsMargins(du.X(7), du.Y(7), du.X(7), du.Y(7));
    dialogLayout->setSpacing(du.Y(4));

    auto* top = new QHBoxLayout;
    top->setContentsMargins(du.X(12), 0, 0, 0);
    top->setSpacing(du.X(18));
    auto* icon = new QLabel(this);
    icon->setPixmap(windowIcon().pixmap(du.Size(20, 20)));
    icon->setAccessibleName(QStringLiteral("Brimvale"));
    top->addWidget(icon, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(du.Y(8));
    auto* name = new QLabel(QStringLiteral("Brimvale  Version 8.7"), this);
    texts->addWidget(name, 0, Qt::AlignHCenter);
    link = new CLinkStatic(QStringLiteral("Brimvale home page: ") + HomePage(), HomePage(), this);
    link->setObjectName(QStringLiteral("homePageLink"));
    link->setAccessibleName(QStringLiteral("Brimvale home page"));
    texts->addWidget(link);
    top->addLayout(texts, 1);
    dialogLayout->addLayout(top);

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    dialogLayout->addWidget(line);
    dialogLayout->addStretch(1);

    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setMinimumSize(std::max(du.X(50), cancel->sizeHint().width()), du.Y(14));
    dialogLayout->addWidget(cancel, 0, Qt::AlignRight);
    setFixedSize(sizeHint().expandedTo(du.Size(300, 175)));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}
