// What the certificate's pages say: the summary of the computer and the run with a row per
// drive, then each drive's own page. Values are shown as the record holds them; the
// record's vocabulary (outcomes, verification, pass kinds) is worded through the language
// table.
#include "record/block_ranges.h"
#include "record/certificate_canvas.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace purgelet::record::certificate {

namespace {

// An em dash for what the record does not know, in Windows-1252 as every text drawn.
const char* const kNone = "\x97";

std::string OrNone(const std::string& text) {
    return text.empty() ? kNone : text;
}

std::string Number(std::int64_t n) {
    return std::to_string(n);
}

// Sizes as drives are sold: decimal units, one decimal ("500.1 GB").
std::string HumanSize(double bytes) {
    if (bytes < 1000)
        return FillIn(Caption("BYTES"), {Number(static_cast<std::int64_t>(bytes))});
    const char* const units[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
    int unit = -1;
    while (bytes >= 1000 && unit < 5) {
        bytes /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", bytes, units[unit]);
    return text;
}

std::string SizeText(std::int64_t bytes) {
    if (bytes <= 0)
        return kNone;
    if (bytes < 1000)
        return HumanSize(static_cast<double>(bytes));
    return HumanSize(static_cast<double>(bytes)) + " (" +
           FillIn(Caption("BYTES"), {Number(bytes)}) + ")";
}

std::string Duration(double seconds) {
    if (!(seconds > 0))
        return kNone;
    const auto total = static_cast<std::int64_t>(std::llround(seconds));
    char text[48];
    std::snprintf(text, sizeof text, "%" PRId64 ":%02d:%02d", total / 3600,
                  static_cast<int>(total / 60 % 60), static_cast<int>(total % 60));
    return text;
}

std::string Speed(double bytesPerSecond) {
    if (!(bytesPerSecond > 0))
        return kNone;
    return HumanSize(bytesPerSecond) + "/s";
}

std::string YesNo(bool value) {
    return Caption(value ? "YES" : "NO");
}

// The record's word for an outcome, in the user's language, and its colour.
TValue Outcome(const std::string& outcome) {
    struct Known {
        const char* word;
        const char* key;
        TColour colour;
    };
    static const Known known[] = {
        {"completed", "OUTCOME_COMPLETED", {0.09, 0.55, 0.18}},
        {"failed", "OUTCOME_FAILED", {0.80, 0.08, 0.08}},
        {"aborted", "OUTCOME_ABORTED", {0.88, 0.55, 0.00}},
        {"not started", "OUTCOME_NOTSTARTED", {0.45, 0.45, 0.45}},
        {"refused", "OUTCOME_REFUSED", {0.80, 0.08, 0.08}},
    };
    for (const Known& k : known)
        if (outcome == k.word)
            return {Caption(k.key), k.colour};
    return {OrNone(outcome), TColour{0.45, 0.45, 0.45}};
}

// A record word worded through the language table when it is one of words, else as it is.
std::string Worded(const std::string& word,
                   std::initializer_list<std::pair<const char*, const char*>> words) {
    for (const auto& [value, key] : words)
        if (word == value)
            return Caption(key);
    return OrNone(word);
}

std::string Verification(const std::string& verification) {
    return Worded(verification, {{"none", "VERIFY_NONE"},
                                 {"last pass", "VERIFY_LAST"},
                                 {"every pass", "VERIFY_EVERY"},
                                 {"some passes", "VERIFY_SOME"}});
}

std::string PassKind(const std::string& kind) {
    return Worded(kind, {{"pattern", "PASS_PATTERN"},
                         {"random", "PASS_RANDOM"},
                         {"random characters", "PASS_RANDOMCHARS"},
                         {"verify", "PASS_VERIFY"}});
}

TValue Plain(const std::string& text) {
    return {OrNone(text), std::nullopt};
}

TField Field(const char* key, const std::string& text) {
    return {Caption(key), Plain(text)};
}

// The name a drive is headed with: its model, else what the program calls it.
std::string DriveLabel(const TDrive& drive) {
    std::string label = !drive.Identity.Model.empty() ? drive.Identity.Model : drive.Name;
    if (label.empty())
        label = drive.Description;
    if (!drive.Name.empty() && label != drive.Name)
        label += " (" + drive.Name + ")";
    return OrNone(label);
}

// The options the run was made with, as the record names them.
void Options(TCanvas& canvas, const TRecord& record) {
    if (record.Run.Options.empty())
        return;
    canvas.Heading(Caption("GROUP_OPTIONS"));
    std::vector<std::vector<TValue>> rows;
    for (const auto& [name, value] : record.Run.Options)
        rows.push_back({Plain(name), Plain(value)});
    canvas.Table({{Caption("COL_OPTION"), 0.30}, {Caption("COL_VALUE"), 0.70}}, rows, 2);
}

void Summary(TCanvas& canvas, const TRecord& record) {
    canvas.NewPage(Caption("TITLE"), true);
    canvas.Paragraph(FillIn(Caption("INTRO"), {OrNone(record.Tool.Name)}));
    canvas.Space(4);

    const platform::ComputerIdentity& computer = record.Computer;
    const TOperator& person = record.Operator;
    const TMediaFacts& media = record.Media;
    canvas.FieldColumns(
        {{Caption("GROUP_ORGANISATION"),
          {Field("ORGANISATION_NAME", record.Organisation.Name),
           Field("ORGANISATION_ADDRESS", record.Organisation.Address)}},
         {Caption("GROUP_OPERATOR"),
          {Field("OPERATOR_PERSON", person.Person), Field("OPERATOR_TITLE", person.Title),
           Field("OPERATOR_LOCATION", person.Location), Field("OPERATOR_PHONE", person.Phone)}},
         {Caption("GROUP_VALIDATOR"),
          {Field("VALIDATOR_NAME", record.Validator.Name),
           Field("VALIDATOR_TITLE", record.Validator.Title)}}},
        {{Caption("GROUP_MEDIA"),
          {Field("OPERATOR_MEDIA", person.Media),
           Field(
               "MEDIA_CONFIDENTIALITY",
               Worded(media.Confidentiality,
                      {{"low", "CONF_LOW"}, {"moderate", "CONF_MODERATE"}, {"high", "CONF_HIGH"}})),
           Field("MEDIA_BACKUP",
                 Worded(media.Backup, {{"yes", "YES"}, {"no", "NO"}, {"unknown", "UNKNOWN"}})),
           Field("MEDIA_DESTINATION", Worded(media.Destination, {{"reuse", "DEST_REUSE"},
                                                                 {"recycle", "DEST_RECYCLE"},
                                                                 {"destroy", "DEST_DESTROY"},
                                                                 {"return", "DEST_RETURN"}}))}},
         {Caption("GROUP_COMPUTER"),
          {Field("COMPUTER_VENDOR", computer.Vendor), Field("COMPUTER_PRODUCT", computer.Product),
           Field("COMPUTER_SERIAL", computer.Serial), Field("COMPUTER_HOST", computer.HostName),
           Field("COMPUTER_OS", computer.OperatingSystem)}},
         {Caption("GROUP_TOOL"),
          {Field("TOOL_NAME", record.Tool.Name), Field("TOOL_VERSION", record.Tool.Version),
           Field("TOOL_BUILD", record.Tool.BuildId)}}});
    std::vector<TField> run = {Field("RUN_START", record.Run.Start),
                               Field("RUN_END", record.Run.End),
                               {Caption("RUN_OUTCOME"), Outcome(record.Run.Outcome)},
                               Field("RUN_UNATTENDED", YesNo(record.Run.Unattended))};
    if (!record.Run.OutcomeText.empty())
        run.push_back({Caption("DRIVE_OUTCOMETEXT"), {record.Run.OutcomeText, std::nullopt, 12}});
    std::vector<TField> seal;
    if (!record.PreviousSha256.empty())
        seal.push_back(Field("PREVIOUS_DIGEST", record.PreviousSha256));
    canvas.FieldColumns({{Caption("GROUP_RUN"), run}},
                        seal.empty() ? std::vector<TFieldGroup>{}
                                     : std::vector<TFieldGroup>{{Caption("GROUP_CHAIN"), seal}});

    canvas.Heading(
        FillIn(Caption("DRIVES"), {Number(static_cast<std::int64_t>(record.Drives.size()))}));
    if (record.Drives.empty()) {
        canvas.Paragraph(Caption("NO_DRIVES"));
        Options(canvas, record);
        return;
    }
    std::vector<std::vector<TValue>> rows;
    for (std::size_t i = 0; i < record.Drives.size(); ++i) {
        const TDrive& drive = record.Drives[i];
        rows.push_back({Plain(Number(static_cast<std::int64_t>(i + 1))),
                        Plain(drive.Identity.Model.empty() ? drive.Name : drive.Identity.Model),
                        Plain(drive.Identity.Serial),
                        Plain(drive.Size > 0 ? HumanSize(static_cast<double>(drive.Size)) : ""),
                        Plain(drive.Method), Plain(Verification(drive.Verification)),
                        Plain(Duration(drive.DurationSeconds)), Outcome(drive.Outcome)});
    }
    // The serial number's column holds the 20 characters of an ATA or NVMe serial unbroken.
    canvas.Table({{Caption("COL_NUMBER"), 0.03},
                  {Caption("COL_MODEL"), 0.20},
                  {Caption("COL_SERIAL"), 0.21},
                  {Caption("COL_SIZE"), 0.085},
                  {Caption("COL_METHOD"), 0.14},
                  {Caption("COL_VERIFICATION"), 0.115},
                  {Caption("COL_DURATION"), 0.09},
                  {Caption("COL_OUTCOME"), 0.13}},
                 rows);
    Options(canvas, record);
}

void DrivePage(TCanvas& canvas, const TDrive& drive, std::size_t index, std::size_t count) {
    canvas.NewPage(FillIn(Caption("DRIVE_HEADING"),
                          {Number(static_cast<std::int64_t>(index + 1)),
                           Number(static_cast<std::int64_t>(count)), DriveLabel(drive)}));
    const platform::DeviceIdentity& id = drive.Identity;
    std::vector<TField> identity = {
        Field("DRIVE_MODEL", id.Model),
        Field("DRIVE_SERIAL", id.Serial),
        Field("DRIVE_FIRMWARE", id.Firmware),
        Field("DRIVE_BUS", id.Bus),
        Field("DRIVE_ROTATIONAL", id.Rotational ? YesNo(*id.Rotational) : Caption("UNKNOWN")),
        Field("DRIVE_NAME", drive.Name),
        Field("DRIVE_DESCRIPTION", drive.Description)};
    if (drive.PartitionNumber)
        identity.push_back(Field("DRIVE_PARTITION", Number(*drive.PartitionNumber)));
    if (drive.PartitionOffset)
        identity.push_back(
            Field("DRIVE_OFFSET", FillIn(Caption("BYTES"), {Number(*drive.PartitionOffset)})));
    canvas.FieldColumns(
        {{Caption("GROUP_IDENTITY"), identity}},
        {{Caption("GROUP_CAPACITY"),
          {Field("DRIVE_SIZE", SizeText(drive.Size)),
           Field("DRIVE_BLOCKSIZE",
                 drive.BlockSize > 0 ? FillIn(Caption("BYTES"), {Number(drive.BlockSize)}) : ""),
           Field("DRIVE_BLOCKCOUNT", drive.BlockCount > 0 ? Number(drive.BlockCount) : "")}},
         {Caption("GROUP_TIMING"),
          {Field("DRIVE_START", drive.Start), Field("DRIVE_END", drive.End),
           Field("DRIVE_DURATION", Duration(drive.DurationSeconds)),
           Field("DRIVE_SPEED", Speed(drive.AverageBytesPerSecond))}}});
    std::vector<TField> outcome = {{Caption("DRIVE_OUTCOME"), Outcome(drive.Outcome)}};
    if (!drive.OutcomeText.empty())
        outcome.push_back({Caption("DRIVE_OUTCOMETEXT"), {drive.OutcomeText, std::nullopt, 12}});
    std::vector<TField> erasure = {Field("DRIVE_METHOD", drive.Method)};
    // The drive's own erase, where the method had one: the command it was sent, how it ended
    // in the program's words and in the drive's, and what the read-back of samples found.
    if (drive.Firmware) {
        const TFirmwareErase& firmware = *drive.Firmware;
        erasure.push_back(Field("DRIVE_SANITIZE", firmware.Command));
        erasure.push_back({Caption("DRIVE_SANITIZE_STATUS"), Outcome(firmware.Status)});
        erasure.push_back(Field("DRIVE_SANITIZE_DRIVE", firmware.DriveStatus));
        const auto& check = firmware.Verification;
        erasure.push_back({Caption("DRIVE_SANITIZE_CHECK"),
                           {check ? FillIn(Caption("SANITIZE_CHECK"),
                                           {Number(check->Sampled), Number(check->Changed),
                                            Number(check->HeldNoData), Number(check->Unchanged)})
                                  : Caption("SANITIZE_NOTCHECKED"),
                            std::nullopt, 3}});
        if (firmware.Password != "none")
            erasure.push_back(Field("DRIVE_SANITIZE_PASSWORD", firmware.Password));
    }
    for (TField field : {Field("DRIVE_NIST", drive.NistCategory),
                         Field("DRIVE_VERIFICATION", Verification(drive.Verification)),
                         Field("DRIVE_VERIFIED", Number(drive.BlocksVerified)),
                         Field("DRIVE_FORMATTED", YesNo(drive.Formatted))})
        erasure.push_back(std::move(field));
    canvas.FieldColumns({{Caption("GROUP_ERASURE"), erasure}},
                        {{Caption("GROUP_OUTCOME"), outcome}});
    if (drive.DifferingBlockCount > 0)
        canvas.Paragraph(FillIn(Caption("DIFFERING"),
                                {Number(drive.DifferingBlockCount),
                                 BlockRangesText(drive.DifferingBlocks) +
                                     (drive.DifferingBlockCount > static_cast<std::int64_t>(
                                                                      drive.DifferingBlocks.size())
                                          ? ", ..."
                                          : "")}));
    // A disc is blanked by its drive, which no category of NIST SP 800-88 covers.
    if (!drive.Blank.empty())
        canvas.Paragraph(Caption("NIST_OPTICAL"));

    canvas.Heading(
        FillIn(Caption("PASSES"), {Number(static_cast<std::int64_t>(drive.Passes.size()))}));
    if (drive.Passes.empty()) {
        canvas.Paragraph(Caption("NO_PASSES"));
    } else {
        std::vector<std::vector<TValue>> rows;
        for (const TPass& pass : drive.Passes)
            rows.push_back(
                {Plain(Number(pass.Number)), Plain(PassKind(pass.Kind)), Plain(pass.Pattern)});
        canvas.Table({{Caption("COL_PASS"), 0.08},
                      {Caption("COL_KIND"), 0.30},
                      {Caption("COL_PATTERN"), 0.62}},
                     rows, 2);
    }

    canvas.Heading(
        FillIn(Caption("ERRORS"), {Number(static_cast<std::int64_t>(drive.Errors.size()))}));
    if (drive.Errors.empty()) {
        canvas.Paragraph(Caption("NO_ERRORS"));
        return;
    }
    std::vector<std::vector<TValue>> rows;
    for (const TError& error : drive.Errors)
        rows.push_back({Plain(error.Block ? Number(*error.Block) : ""), Plain(error.Text),
                        Plain(error.Answer), Plain(error.Time)});
    canvas.Table({{Caption("COL_BLOCK"), 0.14},
                  {Caption("COL_TEXT"), 0.46},
                  {Caption("COL_ANSWER"), 0.15},
                  {Caption("COL_TIME"), 0.25}},
                 rows, 6);
}

} // namespace

TFooter FooterOf(const TRecord& record) {
    TFooter footer;
    footer.Digest =
        FillIn(Caption("DIGEST"),
               {record.Sha256.empty() ? FillIn(Caption("NOT_SEALED"), {record.SealError})
                                      : record.Sha256});
    std::string tool = record.Tool.Name;
    if (!record.Tool.Version.empty())
        tool += " " + record.Tool.Version;
    if (!record.Tool.BuildId.empty())
        tool += " (" + record.Tool.BuildId + ")";
    footer.Note = FillIn(Caption("FOOTER_NOTE"),
                         {tool, OrNone(record.Computer.HostName), OrNone(record.Run.Start)});
    // A name and its title on the signature's name line.
    auto nameLine = [](const std::string& name, const std::string& title) {
        return name.empty() || title.empty() ? name : name + ", " + title;
    };
    footer.OperatorName = nameLine(record.Operator.Person, record.Operator.Title);
    footer.ValidatorName = nameLine(record.Validator.Name, record.Validator.Title);
    return footer;
}

void DrawRecord(TCanvas& canvas, const TRecord& record) {
    Summary(canvas, record);
    for (std::size_t i = 0; i < record.Drives.size(); ++i)
        DrivePage(canvas, record.Drives[i], i, record.Drives.size());
    canvas.Finish();
}

} // namespace purgelet::record::certificate
