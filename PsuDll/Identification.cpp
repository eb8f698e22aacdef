// Reading the supply's "*IDN?" reply (see Identification.h).
#include "Identification.h"

#include <serial/ReplyText.h>

namespace psudll {

void ParseIdentification(const std::string& reply, AgilentIdentificationStruct& identification) {
    identification.response = reply;
    // The serial number between the second and third comma is not kept.
    std::string firmware;
    if (!replytext::SplitFields(reply, ',', {&identification.manufacturer, &identification.model, nullptr, &firmware}))
        return;
    replytext::SplitFields(firmware, '-',
                           {&identification.mainVersion, &identification.ioRevision, &identification.frontPanelRevision});
}

}  // namespace psudll
