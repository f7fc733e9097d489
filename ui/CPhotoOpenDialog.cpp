#include "CPhotoOpenDialog.h"

#include "ImageConversion.h"
#include "UiPrompts.h"
#include "app/Composition.h"
#include "app/PhotoList.h"
#include "app/ProjectSettings.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <algorithm>

namespace {

constexpr qint64 MAX_PREVIEW_BYTES = 0x200000;
// Longest path the dialog hands on (the platform's limit).
constexpr int MAX_PATH_CHARS = 4096;

} // namespace

bool CPhotoOpenDialog::PreviewEnabled() { return previewEnabled; }
void CPhotoOpenDialog::SetPreviewEnabled(bool enabled) { previewEnabled = enabled; }

CPreviewStatic::CPreviewStatic(QWidget* parent)
    : QFrame(parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setMinimumSize(160, 110);
}

void CPreviewStatic::LoadPreview(const QString& path)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    picture = QImage();
    pictureWidth = pictureHeight = 0;
    update();
    const QFileInfo file(path);
    if (!path.isEmpty() && file.isFile() && file.size() <= MAX_PREVIEW_BYTES) {
        CxImage image(QFile::encodeName(path).constData(), CXIMAGE_FORMAT_UNKNOWN);
        if (image.IsValid()) {
            picture = ToQImage(image);
            pictureWidth = uint32_t(image.GetWidth());
            pictureHeight = uint32_t(image.GetHeight());
        }
    }
    QApplication::restoreOverrideCursor();
}

QRect CPreviewStatic::PictureRect() const
{
    if (picture.isNull())
        return QRect();
    const QRect client = contentsRect();
    const int cw = client.width();
    const int ch = client.height();
    const int pw = int(pictureWidth);
    const int ph = int(pictureHeight);
    if (cw < pw || ch < ph) {
        const double a = double(pw) / double(ph);
        int w, h;
        if (a > double(cw) / double(ch)) {
            w = cw;
            h = RoundToInt(cw / a);
        } else {
            h = ch;
            w = RoundToInt(a * ch);
        }
        return QRect(client.left() + (cw - w) / 2, client.top() + (ch - h) / 2, w, h);
    }
    return QRect(client.left() + (cw - pw) / 2, client.top() + (ch - ph) / 2, pw, ph);
}

void CPreviewStatic::paintEvent(QPaintEvent* event)
{
    {
        QPainter painter(this);
        painter.fillRect(contentsRect(), Qt::black);
        if (!picture.isNull()) {
            // Nearest-pixel stretching, as the colour-on-colour mode does.
            painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
            painter.drawImage(PictureRect(), picture);
        }
    }
    QFrame::paintEvent(event);
}

CPhotoOpenDialog::CPhotoOpenDialog(QWidget* parent, const QString& initialFolder)
    : QFileDialog(parent)
{
    setOption(QFileDialog::DontUseNativeDialog, true);
    setOption(QFileDialog::ReadOnly, false);
    setAcceptMode(QFileDialog::AcceptOpen);
    setFileMode(QFileDialog::ExistingFiles);
    setNameFilter(PhotoFileFilter());
    if (!initialFolder.isEmpty())
        setDirectory(initialFolder);

    auto* panel = new QWidget(this);
    auto* panelLayout = new QGridLayout(panel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    preview = new CPreviewStatic(panel);
    preview->setObjectName(QStringLiteral("preview"));
    panelLayout->addWidget(preview, 0, 0, 4, 1);
    panelLayout->addWidget(new QLabel(QStringLiteral("Width:"), panel), 1, 1);
    widthText = new QLabel(panel);
    widthText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    widthText->setMinimumWidth(50);
    panelLayout->addWidget(widthText, 1, 2);
    panelLayout->addWidget(new QLabel(QStringLiteral("Height:"), panel), 2, 1);
    heightText = new QLabel(panel);
    heightText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    panelLayout->addWidget(heightText, 2, 2);
    previewCheck = new QCheckBox(QStringLiteral("Preview"), panel);
    previewCheck->setChecked(previewEnabled);
    panelLayout->addWidget(previewCheck, 3, 1, 1, 2);
    panelLayout->setColumnStretch(3, 1);

    // Under the standard controls.
    if (auto* grid = qobject_cast<QGridLayout*>(layout()))
        grid->addWidget(panel, grid->rowCount(), 0, 1, grid->columnCount());

    connect(this, &QFileDialog::currentChanged, this, &CPhotoOpenDialog::SelectionChanged);
    if (auto* nameEdit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        connect(nameEdit, &QLineEdit::textChanged, this, &CPhotoOpenDialog::SelectionChanged);
    connect(previewCheck, &QCheckBox::clicked, this, &CPhotoOpenDialog::PreviewClicked);
}

QString CPhotoOpenDialog::GetCurrentSelectionPath() const
{
    const auto* nameEdit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (!nameEdit)
        return QString();
    QString name = nameEdit->text();
    const QString folder = directory().absolutePath();
    if (name.startsWith(QLatin1Char('"'))) {
        const qsizetype end = name.indexOf(QLatin1Char('"'), 1);
        name = end < 0 ? name.mid(1) : name.mid(1, end - 1);
    }
    if (name.isEmpty() || name.size() >= MAX_PATH_CHARS)
        return QString();
    QString path = QFileInfo(name).isAbsolute() ? name : folder + QLatin1Char('/') + name;
    while (path.contains(QStringLiteral("//")))
        path.replace(QStringLiteral("//"), QStringLiteral("/"));
    if (path.size() >= MAX_PATH_CHARS)
        return QString();
    return path;
}

void CPhotoOpenDialog::ShowCurrent()
{
    const QString path = GetCurrentSelectionPath();
    if (!path.isEmpty()) {
        preview->LoadPreview(path);
        if (preview->PictureWidth() && preview->PictureHeight()) {
            widthText->setText(QString::number(preview->PictureWidth()));
            heightText->setText(QString::number(preview->PictureHeight()));
            return;
        }
    }
    widthText->clear();
    heightText->clear();
}

void CPhotoOpenDialog::SelectionChanged()
{
    previewEnabled = previewCheck->isChecked();
    if (!previewEnabled)
        return;
    ShowCurrent();
}

void CPhotoOpenDialog::PreviewClicked()
{
    previewEnabled = previewCheck->isChecked();
    if (!previewEnabled) {
        preview->LoadPreview(QString());
        widthText->clear();
        heightText->clear();
        return;
    }
    ShowCurrent();
}

QStringList SortPhotoPaths(QStringList paths)
{
    std::stable_sort(paths.begin(), paths.end(), [](const QString& a, const QString& b) {
        return PhotoPathLess(
            QFile::encodeName(a).toStdString(), QFile::encodeName(b).toStdString());
    });
    return paths;
}
