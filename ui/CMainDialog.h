// The main window: the photo list above a row of six buttons. It routes every action to
// the photo list, the making and the other dialogs, and keeps "Make..." and "Remove"
// enabled in step with the list.
#pragma once

#include <QDialog>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

class CAnimationPreview;
class CPhotoListCtrl;
class PhotoHistory;
class PhotoList;
struct PhotoFailure;
class QLabel;
class QTimer;
class QProgressDialog;
class QPushButton;

class CMainDialog : public QDialog {
    Q_OBJECT
public:
    explicit CMainDialog(QWidget* parent = nullptr);
    ~CMainDialog() override;

    PhotoList& Photos() { return *photos; }
    PhotoHistory& History() { return *history; }
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
    // Ctrl+Z and Ctrl+Shift+Z: a removal, move or addition taken back or done again.
    void Undo();
    void Redo();
    // The right-click menu's entries, for the selected photos (Reverse: the whole list).
    void SetDelayOfSelected();
    void MoveSelectedTo(bool start);
    void ReverseOrder();

    // The work kept when the program last ended: the settings and the window's place at
    // once, the photos composed again from their paths right after (photos that can't be
    // added back are told in one message). From then on the work is kept whenever the
    // window closes.
    void RestoreWork();
    void SaveWork();

    // While a GIF is being written: its progress box, and stopping it (as its Cancel
    // does; an existing file is left as it was).
    bool IsMaking() const { return making; }
    QProgressDialog* MakingProgress() const { return makingProgress; }
    void CancelMaking();

    // Lays the controls out for the current size (normally posted after a resize).
    void Relayout();
    // "Make..." with at least one photo, "Remove" with at least one selected.
    void UpdateButtons();

    // The new-animation and make dialogs are created through these hooks, so that a test
    // can answer them; the program shows them modally.
    std::function<int(QDialog&)> runDialog;

public slots:
    // Closing (Close, Esc, the title bar) during a making asks whether to stop it.
    void done(int result) override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Adds paths in the order given (or sorted first); returns the photos that could
    // not be added, for the caller to tell.
    std::vector<PhotoFailure> AddPaths(const QStringList& paths, bool sort);
    void AddBackRestoredPhotos(std::vector<std::string> paths, std::vector<int32_t> delays);
    void WriteGif();
    // After an undo, redo or menu command: the list shown again with these rows selected.
    void ShowChange(const std::vector<size_t>& rows);
    std::vector<std::string> PhotoPaths() const;
    void PostRelayout();
    void PostUpdateButtons();
    // After every change of the list: the status line, the preview and the buttons.
    void ListChanged();
    void UpdateStatus();

    std::unique_ptr<PhotoList> photos;
    std::unique_ptr<PhotoHistory> history;
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
    // The making's options kept beside the project settings.
    uint16_t loopCount = 0;
    bool openWhenDone = true;
    bool keepsWork = false;
    // The photos of the last run are being added back.
    bool restoring = false;
    // Keeps the work a moment after each change.
    QTimer* saveSoon = nullptr;
    bool making = false;
    // A batch of photos is being composed.
    bool adding = false;
    bool closeAfterMaking = false;
    std::atomic<bool> cancelRequested { false };
    QProgressDialog* makingProgress = nullptr;
};
