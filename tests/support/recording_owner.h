// A message sink for tests: answers questions from a script, records every question with
// the disk's CurrentBlock at that moment, and records every Update with the progress of
// that moment. It can raise XAbort from a chosen Update or as a scripted answer, as the
// disk manager does when the user aborts.
#pragma once

#include "disk/disk.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace purgelet::testing {

class RecordingOwner : public TMessageObject {
public:
    // A scripted answer that raises XAbort instead of answering.
    static constexpr int kRaiseAbort = -1;

    struct Question {
        MessageKind kind;
        std::string detail;
        TMsgDlgType dlgType;
        TMsgDlgButtons buttons;
        std::int64_t currentBlock; // CurrentBlock of Disk when asked, -1 without a disk
    };

    std::deque<int> answers;    // consumed front first
    int defaultAnswer = mrNone; // once the script has run out
    std::vector<Question> questions;

    std::vector<double> progress; // Progress at every Update
    int updates = 0;
    int abortAtUpdate = 0; // the Update call (1-based) that raises XAbort; 0 never
    std::function<void(RecordingOwner&)> onUpdate; // runs inside every Update

    int Message(MessageKind kind, const std::string& detail, TMsgDlgType dlgType,
                TMsgDlgButtons buttons) override;
    void Update() override;

    // Kinds of the questions asked, in order.
    std::vector<int> Kinds() const;
};

} // namespace purgelet::testing
