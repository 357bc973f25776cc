#include "e2e/win32/gui_driver.h"

#include "ui/win32/control_id.h"

#include <commctrl.h>

#include <array>
#include <cstdio>
#include <cstdlib>

namespace purgelet::testing::gui {

// ---- Pictures

COLORREF TPicture::At(int x, int y) const {
    if (x < 0 || y < 0 || x >= Width || y >= Height)
        return CLR_INVALID;
    const std::size_t at = (static_cast<std::size_t>(y) * Width + x) * 3;
    return RGB(Rgb[at], Rgb[at + 1], Rgb[at + 2]);
}

bool Near(COLORREF a, COLORREF b, int tolerance) {
    return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance &&
           std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
           std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

namespace {

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void Chunk(std::vector<std::uint8_t>& png, const char* type,
           const std::vector<std::uint8_t>& data) {
    Put32(png, static_cast<std::uint32_t>(data.size()));
    std::vector<std::uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    Put32(png, Crc32(body.data(), body.size()));
}

} // namespace

bool TPicture::SavePng(const std::string& path) const {
    if (Width <= 0 || Height <= 0)
        return false;
    // Raw scanlines, each with filter 0, in stored deflate blocks of at most 65535 bytes.
    std::vector<std::uint8_t> raw;
    for (int y = 0; y < Height; ++y) {
        raw.push_back(0);
        const auto* row = &Rgb[static_cast<std::size_t>(y) * Width * 3];
        raw.insert(raw.end(), row, row + static_cast<std::size_t>(Width) * 3);
    }
    std::vector<std::uint8_t> z{0x78, 0x01};
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    for (std::size_t at = 0; at < raw.size() || at == 0; at += 65535) {
        const std::size_t n = std::min<std::size_t>(65535, raw.size() - at);
        z.push_back(at + n >= raw.size() ? 1 : 0);
        z.push_back(static_cast<std::uint8_t>(n & 0xFF));
        z.push_back(static_cast<std::uint8_t>(n >> 8));
        z.push_back(static_cast<std::uint8_t>(~n & 0xFF));
        z.push_back(static_cast<std::uint8_t>((~n >> 8) & 0xFF));
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                 raw.begin() + static_cast<std::ptrdiff_t>(at + n));
        if (n == 0)
            break;
    }
    Put32(z, (b << 16) | a);
    std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    Put32(header, static_cast<std::uint32_t>(Width));
    Put32(header, static_cast<std::uint32_t>(Height));
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8-bit RGB
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", z);
    Chunk(png, "IEND", {});
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    return std::fclose(file) == 0 && written;
}

TPicture Capture(HWND window) {
    TPicture picture;
    RECT r;
    if (!GetWindowRect(window, &r))
        return picture;
    picture.Width = r.right - r.left;
    picture.Height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = picture.Width;
    info.bmiHeader.biHeight = -picture.Height; // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, picture.Width, picture.Height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    picture.Rgb.resize(static_cast<std::size_t>(picture.Width) * picture.Height * 3);
    const auto* bgra = static_cast<const std::uint8_t*>(bits);
    for (std::size_t i = 0; i < static_cast<std::size_t>(picture.Width) * picture.Height; ++i) {
        picture.Rgb[i * 3] = bgra[i * 4 + 2];
        picture.Rgb[i * 3 + 1] = bgra[i * 4 + 1];
        picture.Rgb[i * 3 + 2] = bgra[i * 4];
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return picture;
}

// ---- The process

TProcess::TProcess(const std::string& exe, const std::string& folder,
                   const std::vector<std::pair<std::string, std::string>>& environment) {
    for (const auto& [name, value] : environment)
        SetEnvironmentVariableA(name.c_str(), value.c_str());
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    std::string command = "\"" + exe + "\"";
    if (CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       folder.c_str(), &startup, &info)) {
        process_ = info.hProcess;
        id_ = info.dwProcessId;
        CloseHandle(info.hThread);
    }
    for (const auto& entry : environment)
        SetEnvironmentVariableA(entry.first.c_str(), nullptr);
}

TProcess::~TProcess() {
    if (process_ == nullptr)
        return;
    if (Running()) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
}

bool TProcess::Running() const {
    return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

int TProcess::Wait(unsigned milliseconds) {
    if (process_ == nullptr || WaitForSingleObject(process_, milliseconds) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return static_cast<int>(code);
}

namespace {

struct TSearch {
    DWORD Id;
    const char* ClassName;
    std::vector<HWND> Found;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM param) {
    auto& s = *reinterpret_cast<TSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    char name[64] = "";
    GetClassNameA(hwnd, name, sizeof(name));
    if (owner == s.Id && IsWindowVisible(hwnd) && lstrcmpiA(name, s.ClassName) == 0)
        s.Found.push_back(hwnd);
    return TRUE;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM param) {
    auto& out = *reinterpret_cast<std::vector<TChild>*>(param);
    if (!IsWindowVisible(hwnd))
        return TRUE;
    TChild child{hwnd, {}, {}, GetWindowLongA(hwnd, GWL_STYLE)};
    char name[64] = "";
    GetClassNameA(hwnd, name, sizeof(name));
    child.ClassName = name;
    GetWindowRect(hwnd, &child.Rect);
    // Only the form's own controls, not the parts of a control (a list's header).
    if (GetParent(hwnd) == GetAncestor(hwnd, GA_ROOT))
        out.push_back(child);
    return TRUE;
}

} // namespace

std::vector<HWND> TProcess::Windows(const char* className) const {
    TSearch search{id_, className, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

HWND TProcess::MainWindow() const {
    for (HWND hwnd : Windows("PurgeletForm"))
        if (GetWindow(hwnd, GW_OWNER) == nullptr)
            return hwnd;
    return nullptr;
}

HWND TProcess::Dialog() const {
    for (HWND hwnd : Windows("PurgeletForm"))
        if (GetWindow(hwnd, GW_OWNER) != nullptr || hwnd != MainWindow())
            return hwnd;
    return nullptr;
}

namespace {

// A block of the program's memory for the list view's structures.
class TRemote {
public:
    TRemote(DWORD processId, std::size_t size) : size_(size) {
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE,
                               processId);
        if (process_ != nullptr)
            at_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    }
    ~TRemote() {
        if (at_ != nullptr)
            VirtualFreeEx(process_, at_, 0, MEM_RELEASE);
        if (process_ != nullptr)
            CloseHandle(process_);
    }
    TRemote(const TRemote&) = delete;
    TRemote& operator=(const TRemote&) = delete;

    char* At(std::size_t offset = 0) const { return static_cast<char*>(at_) + offset; }
    void Write(const void* data, std::size_t size, std::size_t offset = 0) const {
        WriteProcessMemory(process_, At(offset), data, size, nullptr);
    }
    void Read(void* data, std::size_t size, std::size_t offset = 0) const {
        ReadProcessMemory(process_, At(offset), data, size, nullptr);
    }

private:
    HANDLE process_ = nullptr;
    void* at_ = nullptr;
    std::size_t size_;
};

} // namespace

int TProcess::ListCount(HWND list) const {
    return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
}

std::string TProcess::ListText(HWND list, int row, int column) const {
    TRemote remote(id_, sizeof(LVITEMA) + 260);
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = remote.At(sizeof(LVITEMA));
    item.cchTextMax = 259;
    remote.Write(&item, sizeof(item));
    SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(remote.At()));
    char text[260] = "";
    remote.Read(text, 259, sizeof(LVITEMA));
    return text;
}

bool TProcess::ListChecked(HWND list, int row) const {
    const auto state = static_cast<UINT>(
        SendMessageA(list, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK));
    return (state >> 12) == 2;
}

void TProcess::ListSetChecked(HWND list, int row, bool checked) const {
    TRemote remote(id_, sizeof(LVITEMA));
    LVITEMA item{};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
    remote.Write(&item, sizeof(item));
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(remote.At()));
}

RECT TProcess::ListItemRect(HWND list, int row) const {
    TRemote remote(id_, sizeof(RECT));
    RECT r{};
    r.left = LVIR_BOUNDS;
    remote.Write(&r, sizeof(r));
    SendMessageA(list, LVM_GETITEMRECT, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(remote.At()));
    remote.Read(&r, sizeof(r));
    return r;
}

// ---- Windows

bool WaitUntil(const std::function<bool()>& done, unsigned milliseconds) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > milliseconds)
            return false;
        Sleep(50);
    }
    return true;
}

std::string TextOf(HWND window) {
    if (window == nullptr)
        return {};
    DWORD_PTR length = 0;
    SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length);
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 2000, &copied);
    text.resize(copied);
    return text;
}

HWND Child(HWND form, int id) {
    return GetDlgItem(form, id);
}

HWND ChildByName(HWND form, const char* modelName) {
    return GetDlgItem(form, ui::win32::ControlIdOf(modelName));
}

HWND ButtonByCaption(HWND form, const std::string& text) {
    for (const TChild& child : VisibleChildren(form))
        if (lstrcmpiA(child.ClassName.c_str(), "Button") == 0 && TextOf(child.Window) == text)
            return child.Window;
    return nullptr;
}

void Click(HWND button) {
    PostMessageA(button, BM_CLICK, 0, 0);
}

void Choose(HWND combo, int index) {
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    PostMessageA(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
}

void Type(HWND edit, const std::string& text) {
    SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

// ---- Real input

bool Activate(HWND window) {
    return WaitUntil(
        [window] {
            if (GetForegroundWindow() == window)
                return true;
            SetForegroundWindow(window);
            return false;
        },
        5000);
}

namespace {

INPUT KeyInput(WORD key, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}

} // namespace

void PressKey(WORD key, bool shift, bool alt) {
    std::vector<INPUT> inputs;
    if (shift)
        inputs.push_back(KeyInput(VK_SHIFT, false));
    if (alt)
        inputs.push_back(KeyInput(VK_MENU, false));
    inputs.push_back(KeyInput(key, false));
    inputs.push_back(KeyInput(key, true));
    if (alt)
        inputs.push_back(KeyInput(VK_MENU, true));
    if (shift)
        inputs.push_back(KeyInput(VK_SHIFT, true));
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    Sleep(100); // the program takes the key before the next one
}

void ClickAt(HWND window, int x, int y) {
    POINT point{x, y};
    ClientToScreen(window, &point);
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    INPUT inputs[3] = {};
    for (INPUT& input : inputs) {
        input.type = INPUT_MOUSE;
        input.mi.dx = MulDiv(point.x, 65536, width) + 1;
        input.mi.dy = MulDiv(point.y, 65536, height) + 1;
        input.mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
    }
    inputs[1].mi.dwFlags |= MOUSEEVENTF_LEFTDOWN;
    inputs[2].mi.dwFlags |= MOUSEEVENTF_LEFTUP;
    SendInput(3, inputs, sizeof(INPUT));
    Sleep(100);
}

void ParkPointer() {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = 65535;
    input.mi.dy = 65535;
    input.mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
    SendInput(1, &input, sizeof(INPUT));
}

HWND FocusOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info))
        return nullptr;
    return info.hwndFocus;
}

std::vector<TChild> VisibleChildren(HWND form) {
    std::vector<TChild> children;
    EnumChildWindows(form, CollectChild, reinterpret_cast<LPARAM>(&children));
    return children;
}

} // namespace purgelet::testing::gui
