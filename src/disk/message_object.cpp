#include "disk/message_object.h"

namespace purgelet {

const char* MessageKindKey(MessageKind kind) {
    switch (kind) {
    case mkGeneric:
        return "Error_generic";
    case mkWrite:
        return "Error_Write";
    case mkRead:
        return "Error_Read";
    case mkVerify:
        return "Error_Verify";
    case mkCDDVDNotReady:
        return "Error_CDDVD_not_ready";
    case mkCDDVDNotErasable:
        return "Error_CDDVD_notEraseble";
    case mkCDDVDBlanking:
        return "Error_CDDVD_Blanking";
    case mkQueryForceDisMount:
        return "Error_QueryForceDisMount";
    case mkQueryWinFormat:
        return "Error_QueryWinFormat";
    case mkQueryWinFormat9x:
        return "Error_QueryWinFormat9x";
    case mkDetecting:
        return "Error_Detecting";
    default: // kind 7 (no floppy) has no text of its own, nor has any unknown kind
        return "Unknown error";
    }
}

int TMessageObject::Message(MessageKind, const std::string&, TMsgDlgType, TMsgDlgButtons) {
    return mrNone;
}

void TMessageObject::Update() {}

void TMessageObject::ShowDialog(const std::function<void()>& Show) {
    Show();
}

} // namespace purgelet
