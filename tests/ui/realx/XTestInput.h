// The real pointer and keyboard of an X display, moved through the XTest extension: the
// events take the X server's way to the program (grabs, focus and the window manager
// take part), exactly as a person's would.
#pragma once

#include <QPoint>
#include <string>

class XTestInput {
public:
    enum class Key { Return, Escape, Delete, Left, Right, Home, End };

    // Opens its own connection to $DISPLAY; IsOpen() tells whether that worked.
    XTestInput();
    ~XTestInput();
    XTestInput(const XTestInput&) = delete;
    XTestInput& operator=(const XTestInput&) = delete;
    bool IsOpen() const { return display != nullptr; }

    void MoveTo(QPoint screen);
    void Press();
    void Release();
    void Click(QPoint screen);
    void Tap(Key key, bool alt = false);
    // A letter with Ctrl held (and Shift when asked), as for Ctrl+Z and Ctrl+Shift+Z.
    void TapControl(char letter, bool shift = false);
    // Types printable ASCII text on the US keyboard map (Shift where the character needs it).
    void Type(const std::string& text);
    // Whether some client holds the pointer grabbed (a grab of our own then fails).
    bool PointerGrabbedElsewhere();

private:
    void TapKeysym(unsigned long keysym, bool alt);
    void Sync();

    void* display = nullptr;
};
