// Reading the supply's "*IDN?" reply (see Identification.h).
#include "Identification.h"

namespace psudll {

void ParseIdentification(const std::string& reply, AgilentIdentificationStruct& identification) {
    identification.response = reply;
    const auto npos = std::string::npos;

    const size_t comma1 = reply.find(',');
    if (comma1 == npos) return;
    identification.manufacturer = reply.substr(0, comma1);

    const size_t comma2 = reply.find(',', comma1 + 1);
    if (comma2 == npos) return;
    identification.model = reply.substr(comma1 + 1, comma2 - comma1 - 1);

    // The serial number between the second and third comma is not kept.
    const size_t comma3 = reply.find(',', comma2 + 1);
    if (comma3 == npos) return;

    const size_t dash1 = reply.find('-', comma3 + 1);
    if (dash1 == npos) return;
    identification.mainVersion = reply.substr(comma3 + 1, dash1 - comma3 - 1);

    const size_t dash2 = reply.find('-', dash1 + 1);
    if (dash2 == npos) return;
    identification.ioRevision = reply.substr(dash1 + 1, dash2 - dash1 - 1);
    identification.frontPanelRevision = reply.substr(dash2 + 1);
}

}  // namespace psudll
