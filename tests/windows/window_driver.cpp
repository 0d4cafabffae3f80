// Drives a top-level window of another program from inside the same wine session, as a user
// would: by the mouse, the keyboard and the clipboard, through the Windows input queue. It knows
// nothing of Qt: the window's widgets are not native windows, so it works by position.
//
//   window_driver wait TITLE [SECONDS]    waits until the window is visible; prints its client
//                                         area on the screen as "X Y W H"
//   window_driver click TITLE X Y         a left click at X,Y of the window's client area
//   window_driver copy TITLE X Y          clicks at X,Y, presses Ctrl+A and Ctrl+C, prints the
//                                         clipboard's text as UTF-8
//   window_driver close TITLE             asks the window to close (WM_CLOSE), as its close box
//   window_driver device TITLE arrival|removal NAME
//                                         sends the window the WM_DEVICECHANGE Windows sends for a
//                                         device interface NAME that arrives or goes
//
// Exit status 0 on success, 1 when the window or the clipboard text does not come, 2 on usage.
#include <windows.h>

#include <dbt.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{

std::wstring wide(const char *text)
{
    const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring result(size_t(length > 0 ? length : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, result.data(), length);
    result.resize(wcslen(result.c_str()));
    return result;
}

std::string utf8(const wchar_t *text)
{
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(size_t(length > 0 ? length : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), length, nullptr, nullptr);
    result.resize(strlen(result.c_str()));
    return result;
}

HWND findWindow(const std::wstring &title, int seconds)
{
    for (int waited = 0; waited <= seconds * 10; ++waited) {
        HWND window = FindWindowW(nullptr, title.c_str());
        if (window && IsWindowVisible(window))
            return window;
        Sleep(100);
    }
    std::fprintf(stderr, "window_driver: no visible window titled \"%s\"\n",
                 utf8(title.c_str()).c_str());
    return nullptr;
}

void send(INPUT input)
{
    SendInput(1, &input, sizeof input);
    Sleep(30);
}

void mouse(DWORD flags, LONG x = 0, LONG y = 0)
{
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = x;
    input.mi.dy = y;
    input.mi.dwFlags = flags;
    send(input);
}

void key(WORD virtualKey, bool down)
{
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    send(input);
}

void chord(WORD modifier, WORD virtualKey)
{
    key(modifier, true);
    key(virtualKey, true);
    key(virtualKey, false);
    key(modifier, false);
}

void click(HWND window, int x, int y)
{
    SetForegroundWindow(window);
    POINT point{x, y};
    ClientToScreen(window, &point);
    // Absolute moves are in 0..65535 across the primary screen.
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    const LONG ax = LONG((point.x * 65535LL + width / 2) / (width - 1));
    const LONG ay = LONG((point.y * 65535LL + height / 2) / (height - 1));
    mouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, ax, ay);
    mouse(MOUSEEVENTF_LEFTDOWN);
    mouse(MOUSEEVENTF_LEFTUP);
}

bool emptyClipboard()
{
    if (!OpenClipboard(nullptr))
        return false;
    EmptyClipboard();
    CloseClipboard();
    return true;
}

// The clipboard's text once some has arrived (the owner may render it a little later).
bool clipboardText(std::wstring &text, int seconds)
{
    for (int waited = 0; waited <= seconds * 10; ++waited, Sleep(100)) {
        if (!IsClipboardFormatAvailable(CF_UNICODETEXT) || !OpenClipboard(nullptr))
            continue;
        bool found = false;
        if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
            if (const auto *chars = static_cast<const wchar_t *>(GlobalLock(data))) {
                text = chars;
                found = true;
                GlobalUnlock(data);
            }
        }
        CloseClipboard();
        if (found)
            return true;
    }
    return false;
}

// The broadcast record as Windows builds it: the fixed part, then the interface name.
bool sendDeviceChange(HWND window, bool arrival, const std::wstring &name)
{
    const size_t size =
        offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (name.size() + 1) * sizeof(wchar_t);
    std::vector<unsigned char> bytes(size, 0);
    auto *record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W *>(bytes.data());
    record->dbcc_size = DWORD(size);
    record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    std::memcpy(record->dbcc_name, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
    DWORD_PTR answer = 0;
    return SendMessageTimeoutW(
               window, WM_DEVICECHANGE, arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
               reinterpret_cast<LPARAM>(record), SMTO_ABORTIFHUNG, 5000, &answer) != 0;
}

int usage()
{
    std::fprintf(stderr, "usage: window_driver wait|click|copy|close|device TITLE "
                         "[X Y | SECONDS | arrival|removal NAME]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return usage();
    const std::string command = argv[1];
    const std::wstring title = wide(argv[2]);

    if (command == "wait") {
        HWND window = findWindow(title, argc > 3 ? std::atoi(argv[3]) : 20);
        if (!window)
            return 1;
        RECT client{};
        GetClientRect(window, &client);
        POINT origin{0, 0};
        ClientToScreen(window, &origin);
        std::printf("%ld %ld %ld %ld\n", origin.x, origin.y, client.right, client.bottom);
        return 0;
    }
    if (command == "close") {
        HWND window = findWindow(title, 5);
        return window && PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    if (command == "device" && argc == 5) {
        HWND window = findWindow(title, 5);
        const std::string kind = argv[3];
        if (!window || (kind != "arrival" && kind != "removal"))
            return window ? usage() : 1;
        return sendDeviceChange(window, kind == "arrival", wide(argv[4])) ? 0 : 1;
    }
    if ((command == "click" || command == "copy") && argc == 5) {
        HWND window = findWindow(title, 5);
        if (!window)
            return 1;
        const bool copy = command == "copy";
        if (copy && !emptyClipboard()) {
            std::fprintf(stderr, "window_driver: the clipboard cannot be opened\n");
            return 1;
        }
        click(window, std::atoi(argv[3]), std::atoi(argv[4]));
        if (!copy)
            return 0;
        Sleep(200);
        chord(VK_CONTROL, 'A');
        chord(VK_CONTROL, 'C');
        std::wstring text;
        if (!clipboardText(text, 5)) {
            std::fprintf(stderr, "window_driver: no text reached the clipboard\n");
            return 1;
        }
        std::fputs(utf8(text.c_str()).c_str(), stdout);
        std::fputs("\n", stdout);
        return 0;
    }
    return usage();
}
