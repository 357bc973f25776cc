#include "app/disk_view.h"

#include "disk/transfer_buffer.h"

#include "disk/disk.h"
#include "lang/catalogue.h"
#include "report/report.h"
#include "ui/host.h"

#include <algorithm>
#include <charconv>
#include <new>
#include <optional>
#include <system_error>
#include <vector>

namespace purgelet {

namespace {

constexpr int kClientWidth = 72; // a 66-character line, with room for the scroll bar
constexpr int kClientHeight = 21;
constexpr std::size_t kBytesPerLine = 16;

// The format with its first `conversion` replaced by value; every other % sequence stays as
// it is. Texts of a language file never reach printf.
std::string FormatOne(const std::string& format, const std::string& conversion,
                      const std::string& value) {
    const std::size_t at = format.find(conversion);
    if (at == std::string::npos)
        return format;
    return format.substr(0, at) + value + format.substr(at + conversion.size());
}

// A signed 32-bit decimal number and nothing else: no blanks, no sign but a leading minus.
std::optional<std::int32_t> ParseInt32(const std::string& text) {
    std::int32_t value = 0;
    const char* first = text.data();
    const char* last = first + text.size();
    auto [end, error] = std::from_chars(first, last, value, 10);
    if (error != std::errc() || end != last)
        return std::nullopt;
    return value;
}

// The string end, the tab, the line breaks and the backtick show as spaces in the dump.
char Shown(std::uint8_t byte) {
    switch (byte) {
    case 0:
    case 9:
    case 10:
    case 13:
    case 96:
        return ' ';
    default:
        return static_cast<char>(byte);
    }
}

// Per 16 bytes: the bytes in upper-case hex, each followed by a space, two spaces, then the
// bytes as characters. A last line of fewer bytes (an odd block size) keeps its characters in
// the same column and reads nothing past the block.
std::vector<std::string> BlockDumpLines(const std::uint8_t* data, std::size_t size) {
    static const char kHex[] = "0123456789ABCDEF";
    std::vector<std::string> lines;
    lines.reserve((size + kBytesPerLine - 1) / kBytesPerLine);
    for (std::size_t start = 0; start < size; start += kBytesPerLine) {
        const std::size_t count = std::min(kBytesPerLine, size - start);
        std::string hex, text;
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t byte = data[start + i];
            hex += kHex[byte >> 4];
            hex += kHex[byte & 15];
            hex += ' ';
            text += Shown(byte);
        }
        hex.resize(kBytesPerLine * 3, ' ');
        lines.push_back(hex + "  " + text);
    }
    return lines;
}

} // namespace

// ---- The read buffer.

void TFrmDiskview::SizeBuffer(const TDisk& disk) {
    blockBytes_ = static_cast<std::size_t>(std::max(disk.BlockSize, 0));
    if (!buffer_ || buffer_->capacity() < blockBytes_ ||
        reinterpret_cast<std::uintptr_t>(buffer_->data()) % TransferAlignment(disk.BlockSize) != 0)
        buffer_ = std::make_unique<TTransferBuffer>(blockBytes_, TransferAlignment(disk.BlockSize));
}

// ---- The window.

TFrmDiskview::TFrmDiskview(ui::Host& host)
    : ui::TForm("FrmDiskview", host, ui::TForm::OuterFor(kClientWidth, kClientHeight)),
      ToolBar1(Add<ui::TToolBar>("ToolBar1", ui::TRect{0, 0, kClientWidth, 1},
                                 ui::akLeft | ui::akTop | ui::akRight)),
      tbBack(ToolBar1.Add<ui::TButton>("tbBack", ui::TRect{0, 0, 10, 1})),
      tbNext(ToolBar1.Add<ui::TButton>("tbNext", ui::TRect{11, 0, 10, 1})),
      tbGoto(ToolBar1.Add<ui::TButton>("tbGoto", ui::TRect{22, 0, 11, 1})),
      Memo(Add<ui::TMemo>("Memo", ui::TRect{0, 1, kClientWidth, kClientHeight - 2}, ui::akAll)),
      StatusBar(Add<ui::TStatusBar>("StatusBar", ui::TRect{0, kClientHeight - 1, kClientWidth, 1},
                                    ui::akLeft | ui::akRight | ui::akBottom)) {
    tbBack.Caption = "< &Back";
    tbNext.Caption = "&Next >";
    tbGoto.Caption = "&Goto...";
    tbBack.ImageIndex = 0;
    tbNext.ImageIndex = 1;
    tbGoto.ImageIndex = 2;
    // Tool buttons are reached by their letters; the focus stays in the dump, which scrolls.
    for (ui::TButton* button : {&tbBack, &tbNext, &tbGoto})
        button->TabStop = false;
    tbBack.OnClick = [this] { tbBackClick(); };
    tbNext.OnClick = [this] { tbNextClick(); };
    tbGoto.OnClick = [this] { tbGotoClick(); };
    Memo.ReadOnly = true;
    Memo.FixedPitch = true;
    Memo.TabOrder = 1;
    EscapeCloses = true;
    FormCreate();
}

TFrmDiskview::~TFrmDiskview() = default;

void TFrmDiskview::FormCreate() {
    auto text = [](const char* key) { return CatalogueText(key, "diskView"); };
    FCaptionText = text("Caption");
    FGotoTitle = text("GOTOBLOCK");
    FGotoPrompt = text("THENUMBEROFBLOCKENTER");
    FNotANumber = text("NOTAVALIDNUMBER");
    FNotABlock = text("NOTAVALIDBLOCKNUMBER");
    FNotRandomAccess = text("ERRORNOTRAD");
    FStatusFormat = text("BLOCKNUMBER");
    Caption = FCaptionText;
}

void TFrmDiskview::ShowError(const std::string& text) {
    GetHost().MessageDialog(text, TMsgDlgType::mtError, mbOKButton, 0);
}

void TFrmDiskview::ShowDisk(TDisk& D) {
    auto* disk = dynamic_cast<TRandomAccessDisk*>(&D);
    if (disk == nullptr) {
        ShowError(FNotRandomAccess);
        return;
    }
    // The disk may be released once the window is gone (a new detection); forget it then.
    struct Forget {
        TRandomAccessDisk*& disk;
        ~Forget() { disk = nullptr; }
    } forget{FDisk};
    FDisk = disk;
    Caption = FCaptionText + " " + D.Description;
    SizeBuffer(D);
    FCurrentBlock = 0;
    FBlockCount = D.BlockCount;
    TOpenedDisk opened(D, true);
    ShowBlock();
    ShowModal();
    opened.Close();
}

void TFrmDiskview::ShowBlock() {
    if (FDisk == nullptr)
        return;
    StatusBar.SimpleText = FormatBlockOf(FStatusFormat, FCurrentBlock, FBlockCount);
    tbBack.SetEnabled(false);
    tbNext.SetEnabled(false);
    SizeBuffer(*FDisk);
    FDisk->ReadBlocks(buffer_->data(), 1, FCurrentBlock);
    Memo.Lines = BlockDumpLines(buffer_->data(), blockBytes_);
    Memo.TopLine = 0;
    tbBack.SetEnabled(FCurrentBlock > 0);
    tbNext.SetEnabled(FCurrentBlock < FBlockCount - 1);
}

void TFrmDiskview::tbBackClick() {
    if (FCurrentBlock <= 0)
        return;
    --FCurrentBlock;
    ShowBlock();
}

void TFrmDiskview::tbNextClick() {
    if (FCurrentBlock >= FBlockCount - 1)
        return;
    ++FCurrentBlock;
    ShowBlock();
}

void TFrmDiskview::tbGotoClick() {
    const std::string prompt = FormatOne(FGotoPrompt, "%d", std::to_string(FBlockCount));
    std::string answer = std::to_string(FCurrentBlock);
    if (!GetHost().InputQuery(FGotoTitle, prompt, answer)) {
        // Cancelled: the current block again, also beyond the reach of a 32-bit answer.
        ShowBlock();
        return;
    }
    const std::optional<std::int32_t> number = ParseInt32(answer);
    if (!number) {
        ShowError(FormatOne(FNotANumber, "%s", answer));
        return;
    }
    if (*number < 0 || *number >= FBlockCount) {
        ShowError(FormatOne(FNotABlock, "%s", answer));
        return;
    }
    FCurrentBlock = *number;
    ShowBlock();
}

} // namespace purgelet
