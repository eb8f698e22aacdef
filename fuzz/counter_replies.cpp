// Fuzz target: the elapsed-time counter's replies. Every input is read as a
// hexadecimal count ("T?", "P?", the diagnostics), as the decimal result of
// reset and set-base, and as an "I?" reply.
#include "FuzzSupport.h"

#include <TallyDll/ElapsedTimeCounterProtocol.h>

#include <cstdint>
#include <cstdio>
#include <string>

using fuzzsupport::Require;

namespace {

// The parsers' failure entries are built in full; the back ends drop them
// (scripts/fuzz.sh closes the target's standard error).
driverlog::CDeviceLog& DeviceLog() {
    static driverlog::CLibraryLog library("fuzz_counter_replies");
    static driverlog::CDeviceLog log(library, L"CElapsedTimeCounter", &library);
    library.SetCeiling(driverlog::Debug);
    return log;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);
    driverlog::CDeviceLog& log = DeviceLog();

    const auto count = tallydll::ParseCount(log, reply.c_str());
    unsigned hex = 0;
    Require(count.has_value() == (std::sscanf(reply.c_str(), "%X", &hex) == 1), "count: converts as \"%X\"");
    if (count) Require(*count == hex, "count: the value \"%X\" reads");
    (void)tallydll::ParseResult(log, reply.c_str());

    EtcIdentificationStruct id{"m", "o", "f", "r"};
    id.response = reply;
    tallydll::SplitIdentification(id.response, id);
    if (id.firmwareRevision != "f")
        Require(id.manufacturer + "," + id.model + "," + id.firmwareRevision == reply,
                "identification: the fields make up the reply");
    return 0;
}
