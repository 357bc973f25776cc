// The block viewer: one block of a random-access disk at a time as a hex and character dump,
// to look at a drive before its wipe or to see that its data is gone after it. The disk is
// open read-only exactly while the window is shown, and closed on every way out.
#pragma once

#include "ui/controls.h"
#include "ui/form.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace purgelet {

class TDisk;
class TRandomAccessDisk;
class TTransferBuffer;

class TFrmDiskview : public ui::TForm {
public:
    explicit TFrmDiskview(ui::Host& host);
    ~TFrmDiskview() override;

    // Shows the viewer modally for D, from its block 0. A disk that is not random-access gets
    // an error box and is not opened. Open and read failures raise to the caller, after the
    // disk has been closed again.
    void ShowDisk(TDisk& D);
    // Reads and shows FCurrentBlock; a read failure raises with Back and Next disabled.
    void ShowBlock();
    void tbBackClick();
    void tbNextClick();
    void tbGotoClick();
    // Looks the texts of section "diskView" up (the constructor does it once).
    void FormCreate();

    std::int64_t FCurrentBlock = 0;
    std::int64_t FBlockCount = 0;
    TRandomAccessDisk* FDisk = nullptr; // the disk shown, while shown; not owned

    std::string FCaptionText;
    std::string FGotoTitle;
    std::string FGotoPrompt;
    std::string FNotANumber;
    std::string FNotABlock;
    std::string FNotRandomAccess;
    std::string FStatusFormat;

    ui::TToolBar& ToolBar1;
    ui::TButton& tbBack;
    ui::TButton& tbNext;
    ui::TButton& tbGoto;
    ui::TMemo& Memo;
    ui::TStatusBar& StatusBar;

private:
    // One block, aligned as unbuffered devices require of the buffers they read into.
    void ShowError(const std::string& text);

    // Sizes the read buffer for one block of the disk, aligned for unbuffered devices.
    void SizeBuffer(const TDisk& disk);

    std::unique_ptr<TTransferBuffer> buffer_;
    std::size_t blockBytes_ = 0;
};

} // namespace purgelet
