#include "cli/ResultText.h"

namespace pesolink::cli {

std::string ResultText(int32_t result) {
    switch (result) {
        case 0: return "success";
        case 1: return "no usable connection: the port cannot be opened or is held by another program, "
                       "the TCP connection failed, or the link broke";
        case 2: return "no valid reply from the scale in time (no scale answering, or a reply too short)";
        case 4: return "the scale has no such interface or cannot use it";
        case 5: return "refused by the scale";
        case 7: return "unrecognised response from the scale";
        case 8: case 9: case 10: case 11: case 16: case 17: case 21: case 23: case 24: case 25:
            return "the scale's own error code " + std::to_string(result) + " (see the scale's documentation)";
        default: return "result code " + std::to_string(result);
    }
}

std::string ParityText(int32_t parity) {
    switch (parity) {
        case 0: return "no parity";
        case 1: return "odd parity";
        case 2: return "even parity";
        case 3: return "mark parity";
        case 4: return "space parity";
        default: return "parity code " + std::to_string(parity);
    }
}

}  // namespace pesolink::cli
