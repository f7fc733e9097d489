// The main window: the photo list above a row of six buttons. It routes every action to
// the photo list, the making and the other dialogs, and keeps "Make..." and "Remove"
// enabled in step with the list.
#pragma once

#include <QDialog>
#include <memory>

class CAnimationPreview;
class CPhotoListCtrl;
class PhotoList;
class QLabel;
class QPushButton;

class CMainDialog : public QDialog {
    Q_OBJECT
public:
    explicit CMainDialog(QWidget* parent = nullptr);
    ~CMainDialog() override;

    PhotoList& Photos() { return *photos; }
    CPhotoListCtrl* List() const { return list; }
    QPushButton* BeginButton() const { return beginButton; }
    QPushButton* AddButton() const { return addButton; }
    QPushButton* RemoveButton() const { return removeButton; }
    QPushButton* MakeButton() const { return makeButton; }
    QPushButton* PreviewButton() const { return previewButton; }
    QPushButton* AboutButton() const { return aboutButton; }
    QPushButton* CloseButton() const { return closeButton; }
    // The line under the list: photos, canvas and photo size, the last GIF's size.
    QLabel* StatusLine() const { return statusLine; }
    // The preview window, once it has been opened (null before).
    CAnimationPreview* Preview() const { return preview; }

    // The flows behind the buttons.
    void BeginNewAnimation();
    void AddPhotos();
    // Adds photos as "Add Photo..." adds the dialog's selection, remembering their folder
    // for the next dialog (the files named on the command line come this way).
    void AddChosenPhotos(const QStringList& chosen);
    // Adds a batch of paths as the photo dialog's selection is added (sorted first).
    void AddPhotoPaths(const QStringList& paths);
    void RemoveSelectedPhotos();
    void MakeAnimation();
    void ShowPreview();
    void ShowAbout();

    // Lays the controls out for the current size (normally posted after a resize).
    void Relayout();
    // "Make..." with at least one photo, "Remove" with at least one selected.
    void UpdateButtons();

    // The new-animation and make dialogs are created through these hooks, so that a test
    // can answer them; the program shows them modally.
    std::function<int(QDialog&)> runDialog;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void PostRelayout();
    void PostUpdateButtons();
    // After every change of the list: the status line, the preview and the buttons.
    void ListChanged();
    void UpdateStatus();

    std::unique_ptr<PhotoList> photos;
    CPhotoListCtrl* list;
    QPushButton* beginButton;
    QPushButton* addButton;
    QPushButton* removeButton;
    QPushButton* makeButton;
    QPushButton* previewButton;
    QPushButton* aboutButton;
    QPushButton* closeButton;
    QLabel* statusLine;
    CAnimationPreview* preview = nullptr;
    int64_t madeBytes = -1; // size of the GIF made from the list as it is, -1 = none
    int rightMargin = 0;
    int listBottomMargin = 0;
    int buttonBottomMargin = 0;
    int statusBottomMargin = 0;
    bool relayoutPosted = false;
    bool updatePosted = false;
};
