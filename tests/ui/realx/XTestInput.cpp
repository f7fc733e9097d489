#include "XTestInput.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

Display* AsDisplay(void* display) { return static_cast<Display*>(display); }

} // namespace

XTestInput::XTestInput()
    : display(XOpenDisplay(nullptr))
{
}

XTestInput::~XTestInput()
{
    if (display)
        XCloseDisplay(AsDisplay(display));
}

void XTestInput::Sync() { XSync(AsDisplay(display), False); }

void XTestInput::MoveTo(QPoint screen)
{
    XTestFakeMotionEvent(AsDisplay(display), -1, screen.x(), screen.y(), CurrentTime);
    Sync();
}

void XTestInput::Press()
{
    XTestFakeButtonEvent(AsDisplay(display), 1, True, CurrentTime);
    Sync();
}

void XTestInput::Release()
{
    XTestFakeButtonEvent(AsDisplay(display), 1, False, CurrentTime);
    Sync();
}

void XTestInput::Click(QPoint screen)
{
    MoveTo(screen);
    Press();
    Release();
}

void XTestInput::TapKeysym(unsigned long keysym, bool alt)
{
    Display* d = AsDisplay(display);
    const KeyCode code = XKeysymToKeycode(d, keysym);
    // Characters that are not on a key's first level need Shift.
    const bool shift = XkbKeycodeToKeysym(d, code, 0, 0) != keysym;
    const KeyCode shiftCode = XKeysymToKeycode(d, XK_Shift_L);
    const KeyCode altCode = XKeysymToKeycode(d, XK_Alt_L);
    if (alt)
        XTestFakeKeyEvent(d, altCode, True, CurrentTime);
    if (shift)
        XTestFakeKeyEvent(d, shiftCode, True, CurrentTime);
    XTestFakeKeyEvent(d, code, True, CurrentTime);
    XTestFakeKeyEvent(d, code, False, CurrentTime);
    if (shift)
        XTestFakeKeyEvent(d, shiftCode, False, CurrentTime);
    if (alt)
        XTestFakeKeyEvent(d, altCode, False, CurrentTime);
    Sync();
}

void XTestInput::Tap(Key key, bool alt)
{
    static constexpr unsigned long KEYSYMS[]
        = { XK_Return, XK_Escape, XK_Delete, XK_Left, XK_Right, XK_Home, XK_End };
    TapKeysym(KEYSYMS[static_cast<int>(key)], alt);
}

void XTestInput::TapControl(char letter, bool shift)
{
    Display* d = AsDisplay(display);
    const KeyCode control = XKeysymToKeycode(d, XK_Control_L);
    const KeyCode shiftCode = XKeysymToKeycode(d, XK_Shift_L);
    const KeyCode code = XKeysymToKeycode(d, static_cast<unsigned char>(letter));
    XTestFakeKeyEvent(d, control, True, CurrentTime);
    if (shift)
        XTestFakeKeyEvent(d, shiftCode, True, CurrentTime);
    XTestFakeKeyEvent(d, code, True, CurrentTime);
    XTestFakeKeyEvent(d, code, False, CurrentTime);
    if (shift)
        XTestFakeKeyEvent(d, shiftCode, False, CurrentTime);
    XTestFakeKeyEvent(d, control, False, CurrentTime);
    Sync();
}

void XTestInput::Type(const std::string& text)
{
    // Printable ASCII characters are their own keysyms.
    for (const char c : text)
        TapKeysym(static_cast<unsigned char>(c), false);
}

bool XTestInput::PointerGrabbedElsewhere()
{
    Display* d = AsDisplay(display);
    const int status = XGrabPointer(d, DefaultRootWindow(d), False, ButtonPressMask, GrabModeAsync,
        GrabModeAsync, None, None, CurrentTime);
    if (status == GrabSuccess)
        XUngrabPointer(d, CurrentTime);
    Sync();
    return status == AlreadyGrabbed;
}
