#include "ui/tui/ncurses_terminal.h"

#include "platform/codepage.h"

#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <langinfo.h>
#include <ncursesw/curses.h>
#include <unistd.h>

namespace purgelet::ui::tui {

namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_stopped{false};
std::atomic<bool> g_open{false};

extern "C" void OnInterruptSignal(int) {
    g_interrupted = true;
}

extern "C" void OnStopSignal(int) {
    g_stopped = true;
}

void Restore() {
    if (g_open.exchange(false))
        endwin();
}

// A typed character as the program's Windows-1252; 0 for what the code page lacks.
unsigned char AnsiOf(wint_t c) {
    const auto byte = platform::UnicodeToCp1252(static_cast<char32_t>(c));
    return byte ? *byte : 0;
}

class NcursesTerminal : public Terminal {
public:
    NcursesTerminal() {
        // The character set only: numbers keep the C locale's decimal point.
        std::setlocale(LC_CTYPE, "");
        unicode_ = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
        set_escdelay(25);
        initscr();
        g_open = true;
        std::atexit(Restore);
        previousTerminate_ = std::set_terminate([] {
            Restore();
            std::abort();
        });
        std::signal(SIGINT, OnInterruptSignal);
        for (int sig : {SIGTERM, SIGHUP})
            std::signal(sig, OnStopSignal);
        raw();
        noecho();
        nonl();
        keypad(stdscr, TRUE);
        curs_set(0);
        mousemask(BUTTON1_CLICKED | BUTTON1_PRESSED, nullptr);
        mouseinterval(0);
        if (has_colors()) {
            start_color();
            init_pair(1, COLOR_WHITE, COLOR_BLUE);
            init_pair(2, COLOR_BLACK, COLOR_WHITE);
            colors_ = true;
        }
    }
    ~NcursesTerminal() override {
        Restore();
        std::set_terminate(previousTerminate_);
    }

    int Width() const override { return COLS; }
    int Height() const override { return LINES; }
    bool Unicode() const override { return unicode_; }

    std::optional<TInputEvent> Read(int timeoutMs) override {
        if (g_stopped)
            return TInputEvent{TInputEvent::Kind::Stop, {}, 0, 0};
        if (g_interrupted.exchange(false))
            return TInputEvent{TInputEvent::Kind::Interrupt, {}, 0, 0};
        timeout(timeoutMs);
        wint_t c = 0;
        const int kind = get_wch(&c);
        if (kind == ERR) {
            if (g_stopped)
                return TInputEvent{TInputEvent::Kind::Stop, {}, 0, 0};
            return g_interrupted.exchange(false)
                       ? std::optional(TInputEvent{TInputEvent::Kind::Interrupt, {}, 0, 0})
                       : std::nullopt;
        }
        if (kind == KEY_CODE_YES)
            return FunctionKey(static_cast<int>(c));
        return Character(c);
    }

    void Present(const TScreen& screen) override {
        erase();
        for (int y = 0; y < screen.Height() && y < LINES; ++y)
            for (int x = 0; x < screen.Width() && x < COLS; ++x) {
                const TCell& cell = screen.At(x, y);
                attrset(Attributes(cell.Attr));
                mvaddstr(y, x, cell.Glyph.c_str());
            }
        attrset(A_NORMAL);
        refresh();
    }

private:
    attr_t Attributes(std::uint8_t a) const {
        attr_t out = A_NORMAL;
        if (colors_)
            out |= COLOR_PAIR((a & atDialog) ? 2 : 1);
        if (a & atBold)
            out |= A_BOLD;
        if (a & atReverse)
            out |= A_REVERSE;
        if (a & atDim)
            out |= colors_ ? A_DIM : A_NORMAL; // a dim that a monochrome terminal may lack
        if (a & atUnderline)
            out |= A_UNDERLINE;
        return out;
    }

    static TInputEvent KeyEvent(TKey key, char c = 0, bool alt = false) {
        return TInputEvent{TInputEvent::Kind::Key, TKeyEvent{key, c, alt}, 0, 0};
    }

    std::optional<TInputEvent> FunctionKey(int code) {
        switch (code) {
        case KEY_UP:
            return KeyEvent(TKey::Up);
        case KEY_DOWN:
            return KeyEvent(TKey::Down);
        case KEY_LEFT:
            return KeyEvent(TKey::Left);
        case KEY_RIGHT:
            return KeyEvent(TKey::Right);
        case KEY_PPAGE:
            return KeyEvent(TKey::PageUp);
        case KEY_NPAGE:
            return KeyEvent(TKey::PageDown);
        case KEY_HOME:
            return KeyEvent(TKey::Home);
        case KEY_END:
            return KeyEvent(TKey::End);
        case KEY_BTAB:
            return KeyEvent(TKey::BackTab);
        case KEY_BACKSPACE:
            return KeyEvent(TKey::Backspace);
        case KEY_DC:
            return KeyEvent(TKey::Delete);
        case KEY_ENTER:
            return KeyEvent(TKey::Enter);
        case KEY_RESIZE:
            return TInputEvent{TInputEvent::Kind::Resize, {}, 0, 0};
        case KEY_MOUSE: {
            MEVENT m{};
            if (getmouse(&m) == OK && (m.bstate & (BUTTON1_CLICKED | BUTTON1_PRESSED)))
                return TInputEvent{TInputEvent::Kind::Click, {}, m.x, m.y};
            return std::nullopt;
        }
        default:
            return std::nullopt;
        }
    }

    std::optional<TInputEvent> Character(wint_t c) {
        switch (c) {
        case 3: // Ctrl+C
            return TInputEvent{TInputEvent::Kind::Interrupt, {}, 0, 0};
        case '\t':
            return KeyEvent(TKey::Tab);
        case '\r':
        case '\n':
            return KeyEvent(TKey::Enter);
        case ' ':
            return KeyEvent(TKey::Space);
        case 8:
        case 127:
            return KeyEvent(TKey::Backspace);
        case 27: {
            // Esc alone, or Esc then a letter: Alt+letter for terminals that send it so.
            timeout(40);
            wint_t next = 0;
            const int kind = get_wch(&next);
            if (kind == OK && next > 32 && next < 127)
                return KeyEvent(TKey::Char, static_cast<char>(next), true);
            return KeyEvent(TKey::Escape);
        }
        default:
            if (const unsigned char ansi = AnsiOf(c); ansi >= 32 && ansi != 127)
                return KeyEvent(TKey::Char, static_cast<char>(ansi));
            return std::nullopt;
        }
    }

    bool unicode_ = false;
    bool colors_ = false;
    std::terminate_handler previousTerminate_ = nullptr;
};

} // namespace

std::unique_ptr<Terminal> OpenNcursesTerminal() {
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO))
        return nullptr;
    return std::make_unique<NcursesTerminal>();
}

} // namespace purgelet::ui::tui
