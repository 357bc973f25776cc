// The drive selection page: the drive list with its group headers, the details bar and the
// functions "Refresh List" and "View Disk".
#include "app/main_form.h"

#include "app/disk_view.h"
#include "app/drive_list.h"
#include "app/options.h"
#include "app/program.h"
#include "lang/catalogue.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <variant>

namespace purgelet {

namespace {

// Row kinds, told by the image index.
constexpr int kImageSpacer = -2;
constexpr int kImageGroupTitle = -3;
constexpr int kImageRule = -4;
constexpr int kImageDisk = 0;
constexpr int kImageOptical = 1;
constexpr int kImageFloppy = 2;
// A sentence across the list (why nothing in it can be wiped): drawn as a title, no check box.
constexpr int kImageNote = -5;

int ImageOf(TDriveIcon icon) {
    switch (icon) {
    case TDriveIcon::Optical:
        return kImageOptical;
    case TDriveIcon::Floppy:
        return kImageFloppy;
    case TDriveIcon::Disk:
        break;
    }
    return kImageDisk;
}

std::string Fraction(double value, const char* unit) {
    char text[64];
    std::snprintf(text, sizeof text, "%6.2f", value);
    return text + CatalogueText(unit);
}

std::string PropertyText(const TGenericProperty::ValueType& value) {
    if (const auto* text = std::get_if<std::string>(&value))
        return *text;
    if (const auto* number = std::get_if<std::int32_t>(&value))
        return std::to_string(*number);
    return std::to_string(std::get<std::int64_t>(value));
}

std::int64_t PropertyNumber(const TGenericProperty::ValueType& value) {
    if (const auto* number = std::get_if<std::int32_t>(&value))
        return *number;
    if (const auto* number = std::get_if<std::int64_t>(&value))
        return *number;
    return 0;
}

// The details bar's line for a property; properties it does not show give none.
std::optional<std::string> DetailLine(const TGenericProperty& property) {
    enum class Shown : std::uint8_t { Text, Size, Speed };
    struct Detail {
        std::uint8_t id;
        const char* key;
        Shown shown;
    };
    static const Detail kDetails[] = {
        {propName, "PROPERTY_NAME", Shown::Text},
        {propSize, "PROPERTY_SIZE", Shown::Size},
        {propOwner, "PROPERTY_OWNER", Shown::Text},
        {propOwnerHard, "PROPERTY_OWNERHARD", Shown::Text},
        {propFileSystem, "PROPERTY_FILESYSTEM", Shown::Text},
        {propFreeSpace, "PROPERTY_FREESPACE", Shown::Size},
        {propUsedSpace, "PROPERTY_USEDSPACE", Shown::Size},
        {propTotalSpace, "PROPERTY_TOTALSPACE", Shown::Size},
        {propCapacity, "PROPERTY_CAPACITY", Shown::Size},
        {propReadSpeed, "PROPERTY_READSPEED", Shown::Speed},
        {propWriteSpeed, "PROPERTY_WRITESPEED", Shown::Speed},
        {propErasable, "PROPERTY_ERASEABLE", Shown::Text},
    };
    for (const Detail& detail : kDetails) {
        if (detail.id != property.Id)
            continue;
        std::string value = detail.shown == Shown::Size ? FormatSize(PropertyNumber(property.Value))
                                                        : PropertyText(property.Value);
        if (detail.shown == Shown::Speed)
            value += " X";
        return CatalogueText(detail.key) + value;
    }
    return std::nullopt;
}

} // namespace

std::string FormatSize(std::int64_t n) {
    if (n <= 0)
        return "0";
    if (n < 1024)
        return std::to_string(n) + CatalogueText("BYTES");
    if (n < 1048576)
        return Fraction(static_cast<double>(n) / 1024.0, "KB");
    if (n < 1073741824)
        return Fraction(static_cast<double>(n) / 1048576.0, "MB");
    return Fraction(static_cast<double>(n) / 1073741824.0, "GB");
}

void TFrmMain::AddGroupHeader(const std::string& caption) {
    lwDisksList.AddItem({"", {}, kImageSpacer, false, nullptr});
    lwDisksList.AddItem({caption, {}, kImageGroupTitle, false, nullptr});
    lwDisksList.AddItem({"-", {}, kImageRule, false, nullptr});
}

void TFrmMain::RefreshDriveList() {
    lwDisksList.Clear();
    // Row positions now hold other rows: a remembered state would turn the next change of a
    // row into a false check-box click.
    FCheckStates.clear();

    const bool wholeDisks = Options == nullptr || Options->ShowWholeDisks;
    bool wipeable = false;
    std::vector<std::string> refused; // "<disk> <why>" of each disk that cannot be wiped
    for (const TDriveGroup& group : ListDrives(*FDiskManager, wholeDisks)) {
        AddGroupHeader(group.Caption);
        for (const TListedDrive& drive : group.Drives) {
            ui::TListItem row{drive.Disk->Description, {}, ImageOf(drive.Icon), false, drive.Disk};
            if (drive.WithSize)
                row.SubItems.push_back(FormatSize(drive.Disk->Size));
            const TPhysicalDisk* whole =
                group.WholeDisks ? purgelet::WholeDiskOf(drive.Disk) : nullptr;
            if (whole != nullptr && !whole->NotWipeable.empty()) {
                row.Caption += CatalogueText("WHOLEDISK_CANNOTWIPE");
                refused.push_back(whole->Description + " " + whole->NotWipeable);
            } else {
                wipeable = true;
            }
            lwDisksList.AddItem(std::move(row));
        }
    }
    // Said in the list itself: the disks are there to see, and why none may be wiped.
    if (!wipeable && !refused.empty()) {
        std::string names;
        for (const std::string& one : refused)
            names += (names.empty() ? "" : "; ") + one;
        lwDisksList.AddItem({"", {}, kImageSpacer, false, nullptr});
        lwDisksList.AddItem(
            {FillIn(CatalogueText("WHOLEDISK_NOTHING"), {names}), {}, kImageNote, false, nullptr});
    }
    // Nothing is checked any more.
    FCheckedRows = 0;
    JvWIPDataSelection.SetButtonEnabled(ui::TWizardButton::Next, false);
    JvXPBarDetails.ClearItems();
    JvXPBarDetails.SetVisible(false);
    JvXPBarFunctions.SetItemVisible(1, false);
    if (lwDisksList.Count() == 0)
        TellNothingToWipe();
}

TPhysicalDisk* TFrmMain::WholeDiskOf(const ui::TListItem& row) {
    return purgelet::WholeDiskOf(static_cast<TDisk*>(row.Data));
}

std::vector<TDisk*> TFrmMain::CheckedDisks() const {
    std::vector<const TDisk*> wholeDisks;
    for (int i = 0; i < lwDisksList.Count(); ++i) {
        const ui::TListItem& row = lwDisksList.Items(i);
        if (row.Checked)
            if (const TPhysicalDisk* whole = WholeDiskOf(row); whole && whole->NotWipeable.empty())
                wholeDisks.push_back(whole);
    }
    std::vector<TDisk*> disks;
    for (int i = 0; i < lwDisksList.Count(); ++i) {
        const ui::TListItem& row = lwDisksList.Items(i);
        auto* disk = static_cast<TDisk*>(row.Data);
        if (!row.Checked || disk == nullptr)
            continue;
        if (const TPhysicalDisk* whole = WholeDiskOf(row); whole && !whole->NotWipeable.empty())
            continue;
        if (disk->OwnerDisk != nullptr &&
            std::find(wholeDisks.begin(), wholeDisks.end(), disk->OwnerDisk) != wholeDisks.end())
            continue;
        disks.push_back(disk);
    }
    return disks;
}

void TFrmMain::TellNothingToWipe() {
    const std::string text = NothingToWipeText(*FDiskManager);
    if (text == FNothingToWipeTold)
        return;
    FNothingToWipeTold = text;
    GetHost().MessageDialog(text, TMsgDlgType::mtInformation, mbOKButton, 0);
}

void TFrmMain::JvWIPDataSelectionEnterPage() {
    if (lwDisksList.Count() == 0)
        RefreshDriveList();
}

void TFrmMain::lwDisksListChange(int index) {
    if (index >= 0 && index < lwDisksList.Count() && lwDisksList.Items(index).Checked) {
        // A disk that must not be wiped cannot be ticked: the tick is taken back at once and
        // the row selected, so the details bar says why.
        const TPhysicalDisk* whole = WholeDiskOf(lwDisksList.Items(index));
        if (whole != nullptr && !whole->NotWipeable.empty()) {
            lwDisksList.SetChecked(index, false);
            lwDisksList.SetSelected(index);
            return;
        }
    }
    if (index >= 0) {
        if (static_cast<int>(FCheckStates.size()) <= index)
            FCheckStates.resize(static_cast<std::size_t>(index) + 1, false);
        const bool checked = lwDisksList.Items(index).Checked;
        if (checked != FCheckStates[static_cast<std::size_t>(index)]) {
            FCheckStates[static_cast<std::size_t>(index)] = checked;
            if (lwDisksList.Selected() != index) {
                lwDisksList.SetSelected(index); // its change event does the rest
                return;
            }
            // Ticking the selected row raises no selection change: recount now.
        }
    }

    FCheckedRows = 0;
    for (int i = 0; i < lwDisksList.Count(); ++i)
        if (lwDisksList.Items(i).Checked)
            ++FCheckedRows;
    JvWIPDataSelection.SetButtonEnabled(ui::TWizardButton::Next, FCheckedRows > 0);

    JvXPBarDetails.SetVisible(lwDisksList.Selected() >= 0);
    JvXPBarDetails.ClearItems();
    GetHost().ProcessMessages();
    // A change handled while messages were processed has filled the bar already: it is
    // filled afresh for the row selected now.
    JvXPBarDetails.ClearItems();
    const int selected = lwDisksList.Selected();

    TDisk* disk = selected >= 0 ? static_cast<TDisk*>(lwDisksList.Items(selected).Data) : nullptr;
    if (const TPhysicalDisk* whole =
            disk != nullptr ? WholeDiskOf(lwDisksList.Items(selected)) : nullptr;
        whole != nullptr && !whole->NotWipeable.empty())
        JvXPBarDetails.AddItem({CatalogueText("WHOLEDISK_WHY") + whole->NotWipeable, true, {}});
    if (disk != nullptr) {
        // Which device it is, under its name: what an auditor matches the drive by.
        bool identityShown = false;
        auto showIdentity = [this, disk, &identityShown] {
            identityShown = true;
            if (!disk->Identity.Model.empty())
                JvXPBarDetails.AddItem(
                    {CatalogueText("PROPERTY_MODEL") + disk->Identity.Model, true, {}});
            if (!disk->Identity.Serial.empty())
                JvXPBarDetails.AddItem(
                    {CatalogueText("PROPERTY_SERIALNUMBER") + disk->Identity.Serial, true, {}});
        };
        const int count = disk->GetSortedPropertiesCount();
        for (int i = 0; i < count; ++i) {
            TGenericProperty property;
            disk->GetProperty(i, property);
            if (auto line = DetailLine(property))
                JvXPBarDetails.AddItem({std::move(*line), true, {}});
            if (property.Id == propName && !identityShown)
                showIdentity();
        }
        if (!identityShown)
            showIdentity();
    }
    JvXPBarDetails.SetVisible(JvXPBarDetails.Count() > 0);
    JvXPBarFunctions.SetItemVisible(1, disk != nullptr && disk->HasBlocks());
}

ui::TListItemDraw TFrmMain::lwDisksListCustomDraw(const ui::TListItem& item) const {
    switch (item.ImageIndex) {
    case kImageSpacer:
        return {ui::TListItemStyle::Blank, false};
    case kImageGroupTitle:
    case kImageNote:
        return {ui::TListItemStyle::GroupTitle, false};
    case kImageRule:
        return {ui::TListItemStyle::Rule, false};
    default:
        return {ui::TListItemStyle::Normal, item.Data != nullptr};
    }
}

void TFrmMain::JvXPBarFunctionsCanResize() {
    ui::TRect r = JvXPBarDetails.Bounds();
    r.Top = JvXPBarFunctions.Bounds().Bottom() + 1;
    JvXPBarDetails.SetBounds(r);
}

void TFrmMain::ViewSelectedDisk() {
    const int selected = lwDisksList.Selected();
    if (selected < 0)
        return;
    if (auto* disk = static_cast<TDisk*>(lwDisksList.Items(selected).Data))
        app_.FrmDiskview->ShowDisk(*disk);
}

} // namespace purgelet
