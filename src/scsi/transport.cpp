#include "scsi/transport.h"

namespace purgelet {

std::uint8_t StatusToResult(std::uint8_t request, std::uint8_t adapter, std::uint8_t target) {
    switch (request) {
    case 0x00:
    case 0x01:
        return 0;
    case 0x02:
    case 0x03:
        return 1;
    case 0x80:
        return 2;
    case 0x81:
        return 4;
    case 0x82:
        return 5;
    case 0xE0:
        return 6;
    case 0xE1:
        return 7;
    case 0xE5:
        return 8;
    case 0xE6:
        return 9;
    case 0x04:
        switch (adapter) {
        case 0x00:
            switch (target) {
            case 0x00:
            case 0x02:
                return 21;
            case 0x08:
                return 22;
            case 0x18:
                return 23;
            case 0x28:
                return 24;
            default:
                return 10;
            }
        case 0x09:
            return 11;
        case 0x0B:
            return 12;
        case 0x0D:
            return 13;
        case 0x0E:
        case 0x0F:
        case 0x10:
        case 0x11:
        case 0x12:
        case 0x13:
        case 0x14:
            return static_cast<std::uint8_t>(adapter); // 0Eh..14h give 14..20
        default:
            return 10;
        }
    default:
        return 10;
    }
}

} // namespace purgelet
