// The About box: the application icon, the name and version, and the home-page link.
#pragma once

#include <QDialog>

class CLinkStatic;

class CAboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDialog(QWidget* parent = nullptr);
    CLinkStatic* Link() const { return link; }

    static QString HomePage();

private:
    CLinkStatic* link;
};
