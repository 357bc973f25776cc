#include "support/recording_owner.h"

#include "report/exceptions.h"

namespace purgelet::testing {

int RecordingOwner::Message(MessageKind kind, const std::string& detail, TMsgDlgType dlgType,
                            TMsgDlgButtons buttons) {
    questions.push_back({kind, detail, dlgType, buttons, Wipe ? Wipe->CurrentBlock : -1});
    int answer = defaultAnswer;
    if (!answers.empty()) {
        answer = answers.front();
        answers.pop_front();
    }
    if (answer == kRaiseAbort)
        throw XAbort("RecordingOwner.Message - abort");
    return answer;
}

void RecordingOwner::Update() {
    ++updates;
    progress.push_back(Progress);
    if (onUpdate)
        onUpdate(*this);
    if (updates == abortAtUpdate)
        throw XAbort("RecordingOwner.Update - abort");
}

std::vector<int> RecordingOwner::Kinds() const {
    std::vector<int> kinds;
    for (const Question& q : questions)
        kinds.push_back(q.kind);
    return kinds;
}

} // namespace purgelet::testing
